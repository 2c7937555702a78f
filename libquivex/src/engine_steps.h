/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The steps of the effect engine's per-sample road, in their order, shared
 * by the mono road (libquivex.cpp) and the stereo roads (stereo.cpp):
 *   1. analyse_sample: the input sample into the analysis engine and its
 *      amplitudes, frequencies and phases into the readout arrays;
 *   2. shake_and_hand_over: the shake stages on the readouts, the
 *      resonators above Nyquist silenced, the triple to the resynthesis
 *      engine (whose get_synth call, the glide and rotate-and-sum, the
 *      road makes itself: one output or two);
 *   3. advance_lfos: every LFO one sample on;
 *   4. next_gain: the output gain for the sample, along its glide.
 * Each is inline: the mono road compiles to what it was written as one
 * loop. Audio thread: no allocation. */
#ifndef QUIVEX_ENGINE_STEPS_H
#define QUIVEX_ENGINE_STEPS_H

#include <cmath>
#include <cstring>

#include "libquivex_internal.h"
#include "shake.h"

namespace quivex_steps {

// One NaN or infinity would poison the resonators' state for good and the
// engine would never sound again; such a sample counts as silence instead.
// Samples beyond +-1e6 (120 dB above full scale) are held at it: the
// resonators square their smoothed input, which overflows float from about
// 1.8e19 on and would leave infinities in the state.
inline float held_input(float in_samp)
{
    if (!std::isfinite(in_samp))
        return 0.0f;
    if (std::fabs(in_samp) > 1e6f)
        return std::copysign(1e6f, in_samp);
    return in_samp;
}

inline void analyse_sample(_libquivex* lr, float in_samp)
{
    libtembra_update(lr->_lr0, held_input(in_samp));
    libtembra_get_buffers(lr->_lr0, lr->_ai_buf, lr->_fi_buf, lr->_pi_buf);
}

inline void shake_and_hand_over(_libquivex* lr)
{
    float* const amplitudes = lr->_ai_buf;
    const int n = lr->_num_reso;
    shake_stages(lr, amplitudes, lr->_fi_buf, n);
    for (int k = lr->_num_audible; k < n; ++k)
        amplitudes[k] = 0.0f;
    libtembra_update_synth(lr->_lr1, amplitudes, lr->_fi_buf, lr->_pi_buf);
}

inline void advance_lfos(_libquivex* lr)
{
    for (int j = 0; j < NUM_LFOS; ++j)
        lfo_incr_phase(&lr->_lfos[j]);
}

// The gain the glide has reached at the sample before the next one.
inline float gain_in_use(const _libquivex* lr)
{
    if (lr->_gain_glide_left == 0)
        return lr->_gain_to;
    const double done = static_cast<double>(lr->_gain_glide_len - lr->_gain_glide_left) /
                        static_cast<double>(lr->_gain_glide_len);
    return static_cast<float>(static_cast<double>(lr->_gain_from) +
                              (static_cast<double>(lr->_gain_to) - static_cast<double>(lr->_gain_from)) * done);
}

// At the start of a buffer: the first buffer takes the gain as set; a gain
// set since (bit for bit another value) starts a glide from the gain in use.
inline void start_gain_glide(_libquivex* lr)
{
    if (!lr->_gain_started) {
        lr->_gain_started = 1;
        lr->_gain_to = lr->_gain;
        lr->_gain_glide_left = 0;
        return;
    }
    if (std::memcmp(&lr->_gain, &lr->_gain_to, sizeof(float)) == 0)
        return;
    const float from = gain_in_use(lr);
    lr->_gain_from = from;
    lr->_gain_to = lr->_gain;
    const bool finite = std::isfinite(from) && std::isfinite(lr->_gain) &&
                        std::isfinite(static_cast<double>(lr->_gain) - static_cast<double>(from));
    lr->_gain_glide_left = finite ? lr->_gain_glide_len : 0;
}

// The gain of the next sample: one step further along the glide, the
// target itself once the glide is over.
inline float next_gain(_libquivex* lr)
{
    if (lr->_gain_glide_left == 0)
        return lr->_gain_to;
    --lr->_gain_glide_left;
    return gain_in_use(lr);
}

}  // namespace quivex_steps

#endif /* QUIVEX_ENGINE_STEPS_H */
