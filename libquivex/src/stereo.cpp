// SPDX-License-Identifier: LGPL-2.1-or-later
// The stereo roads of the effect engine: one analysis resynthesised into
// two outputs with a weight per partial (libquivex_next_buffer_stereo), and
// a second shake path on that analysis whose LFOs run at a phase of their
// own (libquivex_next_buffer_pair). Both take the mono road's steps in its
// order (engine_steps.h); only the rotate-and-sum gives two outputs.
#include <cmath>
#include <cstring>

#include "denormal_guard.h"
#include "engine_steps.h"
#include "filter_time_internal.h"
#include "libquivex.h"
#include "libquivex_internal.h"
#include "libquivex_restart.h"

using namespace quivex_steps;

namespace {

constexpr std::size_t weight_bytes(const _libquivex* lr)
{
    return static_cast<std::size_t>(lr->_num_reso) * sizeof(float);
}

// At the start of a stereo buffer, as start_gain_glide: the first buffer
// takes the weights as set, weights set since start a glide from those in
// use.
void start_weights_glide(_libquivex* lr)
{
    if (!lr->_weights_started || !lr->_weights_changed) {
        if (!lr->_weights_started) {
            for (int side = 0; side < 2; ++side)
                std::memcpy(lr->_weights[side], lr->_weights_set[side], weight_bytes(lr));
            lr->_weights_glide_left = 0;
        }
        lr->_weights_started = 1;
        lr->_weights_changed = 0;
        return;
    }
    lr->_weights_changed = 0;
    for (int side = 0; side < 2; ++side)
        std::memcpy(lr->_weights_from[side], lr->_weights[side], weight_bytes(lr));
    lr->_weights_glide_left = lr->_gain_glide_len;
}

// The weights of the next sample: one step further along the glide (a
// straight line from where it started), the weights as set once it is over.
inline void next_weights(_libquivex* lr)
{
    if (lr->_weights_glide_left == 0)
        return;
    --lr->_weights_glide_left;
    const int n = lr->_num_reso;
    if (lr->_weights_glide_left == 0) {
        for (int side = 0; side < 2; ++side)
            std::memcpy(lr->_weights[side], lr->_weights_set[side], weight_bytes(lr));
        return;
    }
    const float done = static_cast<float>(lr->_gain_glide_len - lr->_weights_glide_left) /
                       static_cast<float>(lr->_gain_glide_len);
    for (int side = 0; side < 2; ++side) {
        const float* from = lr->_weights_from[side];
        const float* to = lr->_weights_set[side];
        float* now = lr->_weights[side];
        for (int k = 0; k < n; ++k)
            now[k] = from[k] + (to[k] - from[k]) * done;
    }
}

// Stereo buffers start as mono ones: the LFOs' increments for this buffer,
// the gain's and the weights' glides.
bool start_buffer(_libquivex* lr, int nsamps)
{
    const int srate = static_cast<int>(lr->_srate);
    for (int j = 0; j < NUM_LFOS; ++j)
        lfo_comp_phase_incr(&lr->_lfos[j], srate);
    if (nsamps <= 0)
        return false;
    start_gain_glide(lr);
    start_weights_glide(lr);
    return true;
}

}  // namespace

void libquivex_set_partial_gains(libquivex lr, const float* left, const float* right) noexcept
{
    const float* given[2] = {left, right};
    for (int side = 0; side < 2; ++side) {
        if (std::memcmp(lr->_weights_set[side], given[side], weight_bytes(lr)) == 0)
            continue;
        // A weight that is not finite would reach the output forever: 0.
        for (int k = 0; k < lr->_num_reso; ++k)
            lr->_weights_set[side][k] = std::isfinite(given[side][k]) ? given[side][k] : 0.0f;
        lr->_weights_changed = 1;
    }
}

void libquivex_next_buffer_stereo(libquivex lr, const float* in, float* out_l, float* out_r, int nsamps) noexcept
{
    if (!start_buffer(lr, nsamps))
        return;
    const tembra_fp::DenormalGuard denormal_guard;
    for (int i = 0; i < nsamps; ++i) {
        analyse_sample(lr, in[i]);
        shake_and_hand_over(lr);
        next_weights(lr);
        float left, right;
        libtembra_get_synth_pair(lr->_lr1, lr->_weights[0], lr->_weights[1], &left, &right);
        advance_lfos(lr);
        const float gain = next_gain(lr);
        out_l[i] = left * gain;
        out_r[i] = right * gain;
    }
}

void libquivex_next_buffer_pair(libquivex lr, libquivex right, const float* in, float* out_l, float* out_r,
                                int nsamps) noexcept
{
    const bool go = start_buffer(lr, nsamps);
    if (!start_buffer(right, nsamps) || !go)
        return;
    const tembra_fp::DenormalGuard denormal_guard;
    const std::size_t bytes = weight_bytes(lr);
    for (int i = 0; i < nsamps; ++i) {
        analyse_sample(lr, in[i]);
        // The right path shakes the same analysis: its readouts before lr's
        // shake stages change them in place.
        std::memcpy(right->_ai_buf, lr->_ai_buf, bytes);
        std::memcpy(right->_fi_buf, lr->_fi_buf, bytes);
        std::memcpy(right->_pi_buf, lr->_pi_buf, bytes);
        shake_and_hand_over(lr);
        shake_and_hand_over(right);
        next_weights(lr);
        next_weights(right);
        float left_out, right_out;
        libtembra_get_synth_pair(lr->_lr1, lr->_weights[0], nullptr, &left_out, nullptr);
        libtembra_get_synth_pair(right->_lr1, right->_weights[1], nullptr, &right_out, nullptr);
        advance_lfos(lr);
        advance_lfos(right);
        out_l[i] = left_out * next_gain(lr);
        out_r[i] = right_out * next_gain(right);
    }
}

void libquivex_follow_lfos(libquivex lr, libquivex leader, double offset) noexcept
{
    for (int j = LFO_SHAKE_AMP; j <= LFO_SHAKE_TIME; ++j) {
        lr->_lfos[j]._freq = leader->_lfos[j]._freq;
        if (offset == 0.0)
            lr->_lfos[j]._phase = leader->_lfos[j]._phase;
        else
            libquivex_set_lfo_phase(lr, j, static_cast<double>(leader->_lfos[j]._phase) + offset);
    }
}

void libquivex_share_phase_offsets(libquivex lr, libquivex source) noexcept
{
    // Through the scratch array, which every sample rewrites before reading.
    if (libtembra_get_phase_offsets(source->_lr0, lr->_tmp_buf))
        libtembra_set_phase_offsets(lr->_lr0, lr->_tmp_buf);
    if (libtembra_get_phase_offsets(source->_lr1, lr->_tmp_buf))
        libtembra_set_phase_offsets(lr->_lr1, lr->_tmp_buf);
}

void libquivex_copy_state(libquivex lr, libquivex from, void (*copy_engine)(libtembra, libtembra) noexcept) noexcept
{
    copy_engine(lr->_lr0, from->_lr0);
    copy_engine(lr->_lr1, from->_lr1);
    // The LFOs' phases and increments; their controls stay lr's.
    for (int j = 0; j < NUM_LFOS; ++j) {
        lr->_lfos[j]._phase = from->_lfos[j]._phase;
        lr->_lfos[j]._phase_incr = from->_lfos[j]._phase_incr;
    }
    filter_time_copy_state(lr->_filter, from->_filter);
    const std::size_t bytes = weight_bytes(lr);
    for (float* _libquivex::*array : {&_libquivex::_ai_buf, &_libquivex::_fi_buf, &_libquivex::_pi_buf,
                                      &_libquivex::_alphas})
        std::memcpy(lr->*array, from->*array, bytes);
    lr->_alphas_valid = from->_alphas_valid;
    lr->_alphas_size = from->_alphas_size;
    lr->_alphas_lfo_val = from->_alphas_lfo_val;
    std::memcpy(lr->_lfo_key, from->_lfo_key, sizeof lr->_lfo_key);
    lr->_lfo_key_mode = from->_lfo_key_mode;
    std::memcpy(lr->_lfo_vals, from->_lfo_vals, sizeof lr->_lfo_vals);
    lr->_gain_from = from->_gain_from;
    lr->_gain_to = from->_gain_to;
    lr->_gain_glide_left = from->_gain_glide_left;
    lr->_gain_started = from->_gain_started;
    for (int side = 0; side < 2; ++side) {
        std::memcpy(lr->_weights[side], from->_weights[side], bytes);
        std::memcpy(lr->_weights_from[side], from->_weights_from[side], bytes);
    }
    lr->_weights_glide_left = from->_weights_glide_left;
    lr->_weights_started = from->_weights_started;
    // With the gains from has set, lr glides on exactly as from does (its
    // own flag, raised by gains set since its last stereo buffer, would
    // restart the glide); gains of its own start a glide from here.
    bool own_gains = false;
    for (int side = 0; side < 2; ++side)
        own_gains = own_gains || std::memcmp(lr->_weights_set[side], from->_weights_set[side], bytes) != 0;
    lr->_weights_changed = from->_weights_changed || own_gains;
}
