/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* One low-frequency oscillator of the effect engine: its record, the
 * advance of its phase (every sample) and its value, a cosine shaped by
 * sigmoid. Small enough to be inline where the engine and the shake stages
 * call them; every function has internal linkage. */
#ifndef QUIVEX_LFO_H
#define QUIVEX_LFO_H

#include <cmath>
#include <cstring>

#include "lfo_vec.h"
#include "sigmoid.h"

namespace quivex_detail {
constexpr double TWO_PI = 6.283185307179586;
// 2 pi rounded to float: the length of one turn of an LFO phase.
constexpr float TWO_PI_F = 6.2831855f;
}  // namespace quivex_detail

/* One low-frequency oscillator. */
struct lfo {
    float _amp;         // depth of the output
    float _freq;        // rate, Hz
    float _amount;      // dry/wet fraction of the stage that reads it
    float _mod;         // wave shape, handed to sigmoid as its parameter
    float _phase;       // current phase, radians, kept in [0, 2 pi)
    float _phase_incr;  // phase advance per sample, radians
    // -log2(_mod), the exponent of the sigmoid's power curve, computed once
    // per buffer for the _mod it was computed from.
    float _shape_mod;
    double _shape_exp;
};

/* Back to the phase and shape memory lfo_init gives; the settings (depth,
 * rate, amount, shape) stay. */
static inline void lfo_restart(lfo* l)
{
    l->_phase = 0.0f;
    l->_phase_incr = 0.0f;
    l->_shape_mod = 0.5f;
    l->_shape_exp = -std::log2(0.5);
}

static inline void lfo_init(lfo* l)
{
    l->_amp = 0.0f;
    l->_freq = 0.0f;
    l->_amount = 0.0f;
    l->_mod = 0.5f;
    lfo_restart(l);
}

static inline void lfo_comp_phase_incr(lfo* l, int srate)
{
    l->_phase_incr = static_cast<float>(static_cast<double>(l->_freq) * quivex_detail::TWO_PI /
                                        static_cast<double>(srate));
    l->_shape_mod = l->_mod;
    l->_shape_exp = -std::log2(static_cast<double>(l->_mod));
}

/* -log2(_mod), from the per-buffer value when _mod has not changed since. */
static inline double lfo_shape_exponent(const lfo* l)
{
    return std::memcmp(&l->_shape_mod, &l->_mod, sizeof(float)) == 0 ? l->_shape_exp
                                                                     : -std::log2(static_cast<double>(l->_mod));
}

/* sigmoid(t, a) for a = the LFO's _mod: the same curve with its exponent
 * -log2(a) taken from the per-buffer value when _mod has not changed since. */
static inline double lfo_sigmoid(const lfo* l, double t)
{
#if MORVANE_REFERENCE
    return sigmoid(t, static_cast<double>(l->_mod));
#else
    return sigmoid_pow(t, lfo_shape_exponent(l));
#endif
}

static inline void lfo_incr_phase(lfo* l)
{
    l->_phase = l->_phase + l->_phase_incr;
    // A float phase that grew without bound would lose resolution until a
    // slow LFO's increment no longer changed it (a 1 Hz LFO at 48 kHz stops
    // after about nine minutes). Keeping it within one turn changes no
    // cosine beyond rounding and leaves every value before the first wrap
    // as it was.
    if (l->_phase >= quivex_detail::TWO_PI_F)
        l->_phase = l->_phase - quivex_detail::TWO_PI_F;
    else if (l->_phase < 0.0f)
        l->_phase = l->_phase + quivex_detail::TWO_PI_F;
}

/* Bipolar value in [-_amp, _amp] for _mod in [0, 1]: the cosine mapped
 * onto [0, 1], shaped by sigmoid, mapped back. */
static inline float lfo_get_val(const lfo* l)
{
    const float t = static_cast<float>(std::cos(static_cast<double>(l->_phase)));
    const float s = static_cast<float>(lfo_sigmoid(l, (static_cast<double>(t) + 1.0) * 0.5));
    return static_cast<float>((static_cast<double>(s) - 0.5) * 2.0 * static_cast<double>(l->_amp));
}

/* Unipolar value in [0, _amp] for _mod in [0, 1]. */
static inline float lfo_get_val_norm(const lfo* l)
{
    const float t = static_cast<float>((std::cos(static_cast<double>(l->_phase)) + 1.0) * 0.5);
    const float s = static_cast<float>(lfo_sigmoid(l, static_cast<double>(t)));
    return s * l->_amp;
}

/* Dry/wet mix of x and x scaled by the LFO value:
 * x (1 - amount) + (amount lfo_val) x. */
static inline float lfo_apply_amount(const lfo* l, float lfo_val, float x)
{
    const float wet = (l->_amount * lfo_val) * x;
    return static_cast<float>((1.0 - static_cast<double>(l->_amount)) * static_cast<double>(x) +
                              static_cast<double>(wet));
}

#endif /* QUIVEX_LFO_H */
