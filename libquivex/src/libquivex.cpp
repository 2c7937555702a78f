// SPDX-License-Identifier: LGPL-2.1-or-later
// The effect engine: analysis through one resonator engine, three shake
// stages, resynthesis through a second resonator engine, output gain.
#include "libquivex.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cpu_level.h"
#include "denormal_guard.h"
#include "engine_steps.h"
#include "filter_time_internal.h"
#include "libquivex_internal.h"
#include "libquivex_restart.h"
#include "shake.h"

namespace {
constexpr int NUM_RESO = 112;
constexpr float MIN_FREQ = 20.0f;
constexpr float MAX_FREQ = 20000.0f;
// Mel grid, range limiting, damped resynthesis, random phase offsets and
// the (unread) resonator-selection flag.
constexpr unsigned short TEMBRA_OPTIONS = LIBTEMBRA_MEL_SCALE | LIBTEMBRA_SELECT_RESO |
                                          LIBTEMBRA_LIMIT_RESO_RANGE | LIBTEMBRA_DAMP_OSC |
                                          LIBTEMBRA_RND_PHASE_OFFSET;
}  // namespace

// Zeroed: the display accessor may read the readout arrays before the
// first sample has written them.
static float* alloc_floats(int n)
{
    return static_cast<float*>(std::calloc(static_cast<std::size_t>(n), sizeof(float)));
}

// Everything of libquivex_new after the processor check.
__attribute__((noinline)) static libquivex create_libquivex(unsigned long srate) noexcept
{
    if (srate == 0)
        return nullptr;
    auto* lr = static_cast<_libquivex*>(std::calloc(1, sizeof(_libquivex)));
    if (lr == nullptr)
        return nullptr;
    lr->_srate = srate;
    lr->_gain = 1.0f;
    lr->_gain_to = 1.0f;
    lr->_num_reso = NUM_RESO;
    const double glide = static_cast<double>(srate) * (0.001 * LIBQUIVEX_GAIN_GLIDE_MS);
    lr->_gain_glide_len = glide >= 1.0 && glide < 1e9 ? static_cast<int>(std::lround(glide)) : 1;

    // The two engines are built one after the other: each draws its random
    // phase offsets from rand(), the analysis engine first.
    const int israte = static_cast<int>(lr->_srate);
    lr->_lr0 = libtembra_new(israte, lr->_num_reso, MIN_FREQ, MAX_FREQ, TEMBRA_OPTIONS);
    if (lr->_lr0 == nullptr) {
        libquivex_free(lr);
        return nullptr;
    }
    lr->_lr1 = libtembra_new(israte, lr->_num_reso, MIN_FREQ, MAX_FREQ, TEMBRA_OPTIONS);
    if (lr->_lr1 == nullptr) {
        libquivex_free(lr);
        return nullptr;
    }

    lr->_ai_buf = alloc_floats(lr->_num_reso);
    lr->_fi_buf = alloc_floats(lr->_num_reso);
    lr->_pi_buf = alloc_floats(lr->_num_reso);
    if (lr->_ai_buf == nullptr || lr->_fi_buf == nullptr || lr->_pi_buf == nullptr) {
        libquivex_free(lr);
        return nullptr;
    }

    // Stereo weights: every partial at 1 in both outputs until set.
    for (int side = 0; side < 2; ++side) {
        lr->_weights_set[side] = alloc_floats(lr->_num_reso);
        lr->_weights[side] = alloc_floats(lr->_num_reso);
        lr->_weights_from[side] = alloc_floats(lr->_num_reso);
        if (lr->_weights_set[side] == nullptr || lr->_weights[side] == nullptr ||
            lr->_weights_from[side] == nullptr) {
            libquivex_free(lr);
            return nullptr;
        }
        for (int k = 0; k < lr->_num_reso; ++k)
            lr->_weights_set[side][k] = lr->_weights[side][k] = 1.0f;
    }

    if (!shake_state_new(lr)) {
        libquivex_free(lr);
        return nullptr;
    }

    // At rates below 40 kHz the top of the grid lies above the Nyquist
    // frequency: such a resonator hears the alias of a lower partial and its
    // oscillator would add that partial once more, so it is kept silent.
    // Above 40 kHz every resonator is audible and nothing changes.
    libtembra_get_natural_frequencies(lr->_lr0, lr->_tmp_buf);
    lr->_num_audible = lr->_num_reso;
    while (lr->_num_audible > 0 &&
           static_cast<double>(lr->_tmp_buf[lr->_num_audible - 1]) >= 0.5 * israte)
        --lr->_num_audible;
    return lr;
}

MORVANE_BASELINE_CODE
libquivex libquivex_new(unsigned long srate) noexcept
{
    if (!morvane_cpu_has_build_level())
        return nullptr;
    return create_libquivex(srate);
}

void libquivex_restart(libquivex lr, void (*restart_engine)(libtembra) noexcept) noexcept
{
    restart_engine(lr->_lr0);
    restart_engine(lr->_lr1);
    for (auto& l : lr->_lfos)
        lfo_restart(&l);
    lr->_lfo_key_mode = ~0u;
    std::memset(lr->_alphas, 0, static_cast<std::size_t>(lr->_num_reso) * sizeof(float));
    lr->_alphas_valid = 0;
    lr->_alphas_size = 0;
    lr->_alphas_lfo_val = 0.0f;
    filter_time_restart(lr->_filter);
    lr->_gain_started = 0;
    lr->_gain_glide_left = 0;
    lr->_weights_started = 0;
    lr->_weights_glide_left = 0;
    const std::size_t bytes = static_cast<std::size_t>(lr->_num_reso) * sizeof(float);
    std::memset(lr->_ai_buf, 0, bytes);
    std::memset(lr->_fi_buf, 0, bytes);
}

MORVANE_BASELINE_CODE
void libquivex_free(libquivex lr) noexcept
{
    if (lr == nullptr)
        return;
    std::free(lr->_ai_buf);
    std::free(lr->_fi_buf);
    std::free(lr->_pi_buf);
    libtembra_free(lr->_lr0);
    libtembra_free(lr->_lr1);
    for (int side = 0; side < 2; ++side) {
        std::free(lr->_weights_set[side]);
        std::free(lr->_weights[side]);
        std::free(lr->_weights_from[side]);
    }
    shake_state_free(lr);
    std::free(lr);
}

using namespace quivex_steps;

void libquivex_next_buffer(libquivex lr, float* buf, int nsamps) noexcept
{
    const int srate = static_cast<int>(lr->_srate);
    for (int j = 0; j < NUM_LFOS; ++j)
        lfo_comp_phase_incr(&lr->_lfos[j], srate);
    if (nsamps <= 0)
        return;
    // Flush-to-zero and denormals-are-zero for the duration of one buffer.
    const tembra_fp::DenormalGuard denormal_guard;

    start_gain_glide(lr);
    for (int i = 0; i < nsamps; ++i) {
        analyse_sample(lr, buf[i]);
        shake_and_hand_over(lr);
        const float out_samp = libtembra_get_synth(lr->_lr1);
        advance_lfos(lr);
        buf[i] = out_samp * next_gain(lr);
    }
}

int libquivex_get_partials(libquivex lr, float* analysed_amps, float* analysed_freqs, float* shaken_amps,
                           float* shaken_freqs) noexcept
{
    // The analysis engine's readout is a function of its state, which the
    // last sample left: reading it again gives what that sample read.
    if (analysed_amps != nullptr || analysed_freqs != nullptr)
        libtembra_get_buffers(lr->_lr0, analysed_amps, analysed_freqs, nullptr);
    // The readout arrays hold the last sample's values after the shake
    // stages (and the silencing above Nyquist): what was resynthesised.
    const std::size_t bytes = static_cast<std::size_t>(lr->_num_reso) * sizeof(float);
    if (shaken_amps != nullptr)
        std::memcpy(shaken_amps, lr->_ai_buf, bytes);
    if (shaken_freqs != nullptr)
        std::memcpy(shaken_freqs, lr->_fi_buf, bytes);
    return lr->_num_audible;
}

void libquivex_get_lfo_values(libquivex lr, float* values) noexcept
{
    values[0] = lfo_get_val(&lr->_lfos[LFO_SHAKE_AMP]);
    values[1] = lfo_get_val(&lr->_lfos[LFO_SHAKE_FREQ]);
    values[2] = lfo_get_val_norm(&lr->_lfos[LFO_SHAKE_TIME]);
}

void libquivex_set_gain(libquivex lr, float g) noexcept { lr->_gain = g; }

void libquivex_set_lfo_phase(libquivex lr, int lfo, double phase) noexcept
{
    if (lfo < LFO_SHAKE_AMP || lfo > LFO_SHAKE_TIME || !std::isfinite(phase))
        return;
    // The fraction of a turn in double first, then float: a phase of many
    // turns keeps its precision.
    double turn = phase / quivex_detail::TWO_PI;
    turn -= std::floor(turn);
    float p = static_cast<float>(turn * quivex_detail::TWO_PI);
    if (!(p < quivex_detail::TWO_PI_F))
        p = 0.0f;
    lr->_lfos[lfo]._phase = p;
}

void libquivex_get_lfo_phases(libquivex lr, float* phases) noexcept
{
    phases[0] = lr->_lfos[LFO_SHAKE_AMP]._phase;
    phases[1] = lr->_lfos[LFO_SHAKE_FREQ]._phase;
    phases[2] = lr->_lfos[LFO_SHAKE_TIME]._phase;
}

void libquivex_set_lfo_amp_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_AMP]._amp = a; }
void libquivex_set_lfo_amp_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_SHAKE_AMP]._freq = f; }
void libquivex_set_lfo_amp_amount(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_AMP]._amount = a; }
void libquivex_set_lfo_amp_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_SHAKE_AMP]._mod = m; }

void libquivex_set_lfo_freq_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_FREQ]._amp = a; }
void libquivex_set_lfo_freq_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_SHAKE_FREQ]._freq = f; }
void libquivex_set_lfo_freq_amount(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_FREQ]._amount = a; }
void libquivex_set_lfo_freq_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_SHAKE_FREQ]._mod = m; }

void libquivex_set_lfo_time_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_TIME]._amp = a; }
void libquivex_set_lfo_time_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_SHAKE_TIME]._freq = f; }
void libquivex_set_lfo_time_amount(libquivex lr, float a) noexcept { lr->_lfos[LFO_SHAKE_TIME]._amount = a; }
void libquivex_set_lfo_time_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_SHAKE_TIME]._mod = m; }

void libquivex_set_lfo_amp_range_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_AMP_RANGE]._amp = a; }
void libquivex_set_lfo_amp_range_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_AMP_RANGE]._freq = f; }
void libquivex_set_lfo_amp_range_amount(libquivex lr, float a) noexcept
{
    lr->_lfos[LFO_AMP_RANGE]._amount = a;
}
void libquivex_set_lfo_amp_range_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_AMP_RANGE]._mod = m; }

void libquivex_set_lfo_freq_range_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_FREQ_RANGE]._amp = a; }
void libquivex_set_lfo_freq_range_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_FREQ_RANGE]._freq = f; }
void libquivex_set_lfo_freq_range_amount(libquivex lr, float a) noexcept
{
    lr->_lfos[LFO_FREQ_RANGE]._amount = a;
}
void libquivex_set_lfo_freq_range_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_FREQ_RANGE]._mod = m; }

void libquivex_set_lfo_time_range_amp(libquivex lr, float a) noexcept { lr->_lfos[LFO_TIME_RANGE]._amp = a; }
void libquivex_set_lfo_time_range_freq(libquivex lr, float f) noexcept { lr->_lfos[LFO_TIME_RANGE]._freq = f; }
void libquivex_set_lfo_time_range_amount(libquivex lr, float a) noexcept
{
    lr->_lfos[LFO_TIME_RANGE]._amount = a;
}
void libquivex_set_lfo_time_range_mod(libquivex lr, float m) noexcept { lr->_lfos[LFO_TIME_RANGE]._mod = m; }
