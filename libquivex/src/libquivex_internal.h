/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Internals of the effect engine, shared by libquivex.cpp and the unit
 * tests: the LFO record and its operations, the three shake stages and the
 * engine record. Every function here has internal linkage (static inline),
 * so nothing of it is exported and each translation unit that includes the
 * header gets its own copy, compiled with the same floating-point flags. */
#ifndef QUIVEX_LIBQUIVEX_INTERNAL_H
#define QUIVEX_LIBQUIVEX_INTERNAL_H

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <tembra/libtembra.h>

#include "ewma.h"
#include "ewma_vec.h"
#include "lfo_vec.h"
#include "filter_time.h"
#include "libquivex.h"
#include "shake_vec.h"
#include "sigmoid.h"
#include "simd_path.h"

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

/* Index of each LFO in the engine's table. Only the first three drive a
 * stage; the range entries are stored and advanced but read by nothing. */
enum {
    LFO_SHAKE_AMP = 0,
    LFO_SHAKE_FREQ = 1,
    LFO_SHAKE_TIME = 2,
    LFO_AMP_RANGE = 3,
    LFO_FREQ_RANGE = 4,
    LFO_TIME_RANGE = 5,
    NUM_LFOS = 6
};

struct _libquivex {
    tembra_simd::Path _path;  // vector path of the shake stages' kernels, chosen at creation
    unsigned long _srate;  // sample rate, Hz; converted to int where used
    float _gain;           // linear output gain
    int _num_reso;         // resonators per engine, length of every array
    libtembra _lr0;        // analysis engine
    libtembra _lr1;        // resynthesis engine
    float* _ai_buf;        // amplitudes, between analysis and resynthesis
    float* _fi_buf;        // frequencies, Hz
    float* _pi_buf;        // phases, radians
    lfo _lfos[NUM_LFOS];
    filter_time _filter;   // smooths the amplitudes along time
    float* _alphas;        // the filter's per-resonator coefficients
    float* _tmp_buf;       // amplitudes before smoothing (the dry copy)
    // The time stage's coefficients depend only on the time LFO's value (and
    // the rate and size): they are recomputed only when it changes.
    int _alphas_valid;     // nonzero once _alphas holds the values for:
    int _alphas_size;      // the size and
    float _alphas_lfo_val; // the LFO value they were computed for
    float* _time_t;        // k / (_num_reso - 1) for each resonator k, or NULL
    int _num_audible;      // resonators below half the sample rate; those
                           // above it (at rates below 40 kHz) stay silent
    // The three shake LFOs' values are a function of their phases, shapes
    // and depths (and the floating-point mode): while those keep their bits
    // (LFOs at rest, the default), the values are not evaluated again.
    float _lfo_key[9];     // phase, _mod and _amp of each shake LFO
    unsigned _lfo_key_mode; // the MXCSR mode bits, or ~0 before the first
    float _lfo_vals[3];    // amplitude, frequency and time LFO values
};

#if defined(__AVX2__) && !MORVANE_REFERENCE
#define QUIVEX_VECTOR_STAGES 1
#endif

namespace quivex_detail {
constexpr double TWO_PI = 6.283185307179586;
// 2 pi rounded to float: the length of one turn of an LFO phase.
constexpr float TWO_PI_F = 6.2831855f;
// Smoothing time of the lowest resonator and the span above it, ms.
constexpr double MIN_SMOOTH_MS = 0.1;
constexpr double SMOOTH_SPAN_MS = 9999.9;
// MXCSR's flush-to-zero (bit 15) and denormals-are-zero (bit 6).
constexpr unsigned FTZ_DAZ = 0x8040u;
}  // namespace quivex_detail

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

/* lfo_apply_amount over a whole buffer in place: the groups of four at full
 * vector width on the engine's path (shake_vec.cpp), the rest with the same
 * scalar arithmetic. */
static inline void lfo_apply_amount_buf(libquivex lr, const lfo* l, float lfo_val, float* buf, int size)
{
    float* __restrict x = buf;
    int k = 0;
#if defined(QUIVEX_VECTOR_STAGES)
    k = tembra_simd::whole_groups(size);
    quivex_shake_vec::apply_amount_n(lr->_path, l->_amount, lfo_val, x, k);
#else
    (void)lr;
#endif
    for (; k < size; ++k)
        x[k] = lfo_apply_amount(l, lfo_val, x[k]);
}

/* Scales every amplitude by the amplitude LFO. */
static inline void shake_amps_by(libquivex lr, float* ai_buf, int size, float lfo_val)
{
    lfo_apply_amount_buf(lr, &lr->_lfos[LFO_SHAKE_AMP], lfo_val, ai_buf, size);
}

/* Scales every frequency by exp of the frequency LFO (its depth is in
 * natural-log units: ln 2 swings one octave). */
static inline void shake_freqs_by(libquivex lr, float* fi_buf, int size, float lfo_val)
{
    const float pitch = static_cast<float>(std::exp(static_cast<double>(lfo_val)));
    lfo_apply_amount_buf(lr, &lr->_lfos[LFO_SHAKE_FREQ], pitch, fi_buf, size);
}

/* The smoothing time of the resonator at position t in [0, 1] (its index
 * over the highest index), ms: 0.1 ms at the lowest, 0.1 + 9999.9 lfo_val
 * at the highest. */
static inline float smoothing_ms(float t, float lfo_val)
{
    return static_cast<float>(static_cast<double>(t * lfo_val) * quivex_detail::SMOOTH_SPAN_MS +
                              quivex_detail::MIN_SMOOTH_MS);
}

/* Smooths every amplitude along time, with a smoothing time growing from
 * 0.1 ms at the lowest resonator to 0.1 + 9999.9 * lfo ms at the highest,
 * then mixes the smoothed amplitudes with the dry ones. Needs size >= 2. */
static inline void shake_time_by(libquivex lr, float* ai_buf, int size, float lfo_val)
{
    const lfo* l = &lr->_lfos[LFO_SHAKE_TIME];
    const float amount = l->_amount;
    const int srate = static_cast<int>(lr->_srate);
    float* __restrict ai = ai_buf;
    float* __restrict dry = lr->_tmp_buf;
    float* __restrict alphas = lr->_alphas;

#if defined(QUIVEX_VECTOR_STAGES)
    std::memcpy(dry, ai, sizeof(float) * static_cast<std::size_t>(size));
#else
    for (int k = 0; k < size; ++k)
        dry[k] = ai[k];
#endif

#if defined(QUIVEX_VECTOR_STAGES)
    // The coefficients are a function of lfo_val alone (for a given rate and
    // size): the same value gives the same coefficients, bit for bit.
    const bool fresh = lr->_alphas_valid != 0 && lr->_alphas_size == size &&
                       std::memcmp(&lr->_alphas_lfo_val, &lfo_val, sizeof(float)) == 0;
#else
    const bool fresh = false;
#endif
    if (!fresh) {
        const float last = static_cast<float>(size - 1);
        int k = 0;
#if defined(QUIVEX_VECTOR_STAGES) && defined(QUIVEX_EWMA_VEC)
        if (quivex_ewma_vec::rate_proven(srate)) {
            k = tembra_simd::whole_groups(size);
            if (size == lr->_num_reso) {
                quivex_ewma_vec::time_alphas_n(lr->_path, srate, lr->_time_t, lfo_val, quivex_detail::MIN_SMOOTH_MS,
                                               quivex_detail::SMOOTH_SPAN_MS, alphas, k);
            } else {
                // The times first (into alphas), then their coefficients in place.
                for (int j = 0; j < k; ++j)
                    alphas[j] = smoothing_ms(static_cast<float>(j) / last, lfo_val);
                quivex_ewma_vec::ms_to_alpha_n(lr->_path, srate, alphas, alphas, k);
            }
        }
#endif
        for (; k < size; ++k)
            alphas[k] = ewma_ms_to_alpha(srate, smoothing_ms(static_cast<float>(k) / last, lfo_val));
        lr->_alphas_valid = 1;
        lr->_alphas_size = size;
        lr->_alphas_lfo_val = lfo_val;
    }

    filter_time_set_alphas(lr->_filter, alphas);
    filter_time_process(lr->_filter, ai);

    const double dry_gain = 1.0 - static_cast<double>(amount);
    int k = 0;
#if defined(QUIVEX_VECTOR_STAGES)
    k = tembra_simd::whole_groups(size);
    quivex_shake_vec::mix_n(lr->_path, amount, dry, ai, k);
#endif
    for (; k < size; ++k) {
        const float wet = amount * ai[k];
        ai[k] = static_cast<float>(static_cast<double>(dry[k]) * dry_gain + static_cast<double>(wet));
    }
}

static inline void shake_amps(libquivex lr, float* ai_buf, int size)
{
    shake_amps_by(lr, ai_buf, size, lfo_get_val(&lr->_lfos[LFO_SHAKE_AMP]));
}

static inline void shake_freqs(libquivex lr, float* fi_buf, int size)
{
    shake_freqs_by(lr, fi_buf, size, lfo_get_val(&lr->_lfos[LFO_SHAKE_FREQ]));
}

static inline void shake_time(libquivex lr, float* ai_buf, int size)
{
    shake_time_by(lr, ai_buf, size, lfo_get_val_norm(&lr->_lfos[LFO_SHAKE_TIME]));
}

/* The values of the three shake LFOs, lfo_get_val of the amplitude and
 * frequency LFOs and lfo_get_val_norm of the time LFO, with their cosines
 * and sigmoid powers evaluated together. */
static inline void shake_lfo_values(libquivex lr, float* amp_val, float* freq_val, float* time_val)
{
    const lfo* la = &lr->_lfos[LFO_SHAKE_AMP];
    const lfo* lf = &lr->_lfos[LFO_SHAKE_FREQ];
    const lfo* lt = &lr->_lfos[LFO_SHAKE_TIME];
#if defined(QUIVEX_LFO_VEC) && !MORVANE_REFERENCE
    const float key[9] = {la->_phase, la->_mod, la->_amp, lf->_phase, lf->_mod,
                          lf->_amp,   lt->_phase, lt->_mod, lt->_amp};
    const unsigned mode = _mm_getcsr() & quivex_detail::FTZ_DAZ;
    if (mode == lr->_lfo_key_mode && std::memcmp(key, lr->_lfo_key, sizeof key) == 0) {
        *amp_val = lr->_lfo_vals[0];
        *freq_val = lr->_lfo_vals[1];
        *time_val = lr->_lfo_vals[2];
        return;
    }
    const float phase[4] = {la->_phase, lf->_phase, lt->_phase, 0.0f};
    float val[4], norm[4];
    quivex_lfo_vec::lfo_cos_x4(phase, val, norm);
    const double t[4] = {(static_cast<double>(val[0]) + 1.0) * 0.5, (static_cast<double>(val[1]) + 1.0) * 0.5,
                         static_cast<double>(norm[2]), 0.25};
    const double e[4] = {lfo_shape_exponent(la), lfo_shape_exponent(lf), lfo_shape_exponent(lt), 1.0};
    float s[4];
    quivex_lfo_vec::lfo_sigmoid_x4(t, e, s);
    *amp_val = static_cast<float>((static_cast<double>(s[0]) - 0.5) * 2.0 * static_cast<double>(la->_amp));
    *freq_val = static_cast<float>((static_cast<double>(s[1]) - 0.5) * 2.0 * static_cast<double>(lf->_amp));
    *time_val = s[2] * lt->_amp;
    std::memcpy(lr->_lfo_key, key, sizeof key);
    lr->_lfo_key_mode = mode;
    lr->_lfo_vals[0] = *amp_val;
    lr->_lfo_vals[1] = *freq_val;
    lr->_lfo_vals[2] = *time_val;
#else
    *amp_val = lfo_get_val(la);
    *freq_val = lfo_get_val(lf);
    *time_val = lfo_get_val_norm(lt);
#endif
}

/* The shake stages' part of a record whose _num_reso is set: every LFO as
 * lfo_init leaves it and no LFO values remembered, the time filter, its
 * coefficients (all 0), the dry copy and each resonator's position
 * k / (_num_reso - 1) for the time stage. libquivex_new builds its record
 * with it, and the tests and benchmarks build records of the stages alone.
 * Returns false when memory runs out; shake_state_free then releases what
 * was allocated. */
static inline bool shake_state_new(libquivex lr)
{
    const int n = lr->_num_reso;
    const std::size_t count = static_cast<std::size_t>(n);
    for (auto& l : lr->_lfos)
        lfo_init(&l);
    lr->_path = tembra_simd::choose_path();
    lr->_lfo_key_mode = ~0u;
    lr->_alphas = static_cast<float*>(std::calloc(count, sizeof(float)));
    if (lr->_alphas == nullptr)
        return false;
    lr->_filter = filter_time_new(n);
    if (lr->_filter == nullptr)
        return false;
    lr->_tmp_buf = static_cast<float*>(std::malloc(count * sizeof(float)));
    lr->_time_t = static_cast<float*>(std::malloc(count * sizeof(float)));
    if (lr->_tmp_buf == nullptr || lr->_time_t == nullptr)
        return false;
    for (int k = 0; k < n; ++k)
        lr->_time_t[k] = static_cast<float>(k) / static_cast<float>(n - 1);
    return true;
}

/* Releases what shake_state_new allocated; harmless on a record without. */
static inline void shake_state_free(libquivex lr)
{
    std::free(lr->_alphas);
    filter_time_free(lr->_filter);
    std::free(lr->_tmp_buf);
    std::free(lr->_time_t);
}

/* The three stages in their fixed order; the phases pass through. */
static inline void process(libquivex lr, float* ai_buf, float* fi_buf, float* pi_buf, int size)
{
    (void)pi_buf;
    float amp_val, freq_val, time_val;
    shake_lfo_values(lr, &amp_val, &freq_val, &time_val);
    shake_amps_by(lr, ai_buf, size, amp_val);
    shake_freqs_by(lr, fi_buf, size, freq_val);
    shake_time_by(lr, ai_buf, size, time_val);
}

#endif /* QUIVEX_LIBQUIVEX_INTERNAL_H */
