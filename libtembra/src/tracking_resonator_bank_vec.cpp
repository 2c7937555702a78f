// SPDX-License-Identifier: LGPL-2.1-or-later
// Tracking resonator bank: construction, per-sample update, readouts and
// range limiting.
//
// Numerics are fixed to the last bit: state is single precision, each step
// that is marked "in double" widens its float operands, computes in double
// and rounds once when stored, and no multiply-add is fused (the build
// forbids contraction), so every platform gives the same results.
#include "tracking_resonator_bank_vec.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cpu_level.h"
#include "state_copy.h"
#include "tracking_resonator_bank_vec_internal.h"
#include "memo.h"
#include "simd_path.h"
#include "vector_atan2_n.h"
#include "tracking_readouts.h"
#include "tracking_steps.h"
#include "tracking_update.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kTwoPiInv = 0.15915494f;  // the float nearest 1/(2 pi)

// n floats, not initialised (restart writes the state arrays); NULL for
// n = 0, which is not a failure.
float* alloc_floats(int n) {
    if (n <= 0) return nullptr;
    return static_cast<float*>(std::malloc(static_cast<std::size_t>(n) * sizeof(float)));
}

void release_arrays(tracking_resonator_bank_vec t) {
    float** const arrays[] = {
        &t->_omega_range_min, &t->_omega_range_max, &t->_natural_frequencies,
        &t->_alpha, &t->_omAlpha, &t->_cos, &t->_sin, &t->_beta, &t->_omBeta,
        &t->_cc, &t->_ss, &t->_dpc, &t->_dps, &t->_gamma, &t->_omGamma,
        &t->_track_frequency_power_threshold, &t->_p_omega, &t->_p_Zc,
        &t->_p_Zs, &t->_p_Wc, &t->_p_Ws, &t->_p_Wcps, &t->_p_dpc, &t->_p_dps,
        &t->_p_frequency};
    for (float** a : arrays) {
        std::free(*a);
        *a = nullptr;
    }
    float** const scratch[] = {&t->_scratch_power, &t->_scratch_step, &t->_memo_re, &t->_memo_im,
                               &t->_memo_phase};
    for (float** a : scratch) {
        std::free(*a);
        *a = nullptr;
    }
}

// Number of entries an array readout writes.
inline int readout_count(tracking_resonator_bank_vec t, int size) {
    return std::min(size, t->_num_resonators);
}

}  // namespace

// The signal state of a new bank: smoothing stages and phase steps at rest,
// each local oscillator at 1 + 0i turning at its natural frequency, the
// tracking thresholds and the peak power at their starting values, the
// readout memory empty. Written by creation and by every restart.
void tracking_resonator_bank_vec_restart(tracking_resonator_bank_vec t) noexcept {
    const int n = t->_num_resonators;
    t->_accPower = 0.0001f;
    t->_memo_mode = tembra_memo::kNoMode;
    t->_memo_rest = 0;
    if (n <= 0) return;
    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(float);
    for (float* zeroed : {t->_cos, t->_sin, t->_cc, t->_ss, t->_dps, t->_memo_re, t->_memo_im,
                          t->_memo_phase})
        std::memset(zeroed, 0, bytes);
    // omega = f * ((1 / samplerate) * (-2 pi)) in double, rounded once.
    const double omega_per_hz = (1.0 / static_cast<double>(t->_samplerate)) * (-kTwoPi);
    const float hz_per_omega = t->_samplerate * (-kTwoPiInv);
    for (int i = 0; i < n; ++i) {
        t->_dpc[i] = 1.0f;
        t->_track_frequency_power_threshold[i] = 0.001f;
        const float omega =
            static_cast<float>(static_cast<double>(t->_natural_frequencies[i]) * omega_per_hz);
        t->_p_omega[i] = omega;
        t->_p_Wc[i] = ::cosf(omega);
        t->_p_Ws[i] = ::sinf(omega);
        t->_p_Wcps[i] = t->_p_Wc[i] + t->_p_Ws[i];
        t->_p_Zc[i] = 1.0f;
        t->_p_Zs[i] = 0.0f;
        t->_p_dpc[i] = 1.0f;
        t->_p_dps[i] = 0.0f;
        t->_p_frequency[i] = hz_per_omega * omega;
    }
}

void tracking_resonator_bank_vec_copy_state(tracking_resonator_bank_vec t,
                                            tracking_resonator_bank_vec from) noexcept {
    using B = _tracking_resonator_bank_vec;
    static constexpr float* B::*arrays[] = {
        &B::_cos,   &B::_sin,   &B::_cc,    &B::_ss,    &B::_dpc,   &B::_dps,
        &B::_track_frequency_power_threshold,           &B::_p_omega, &B::_p_Zc,
        &B::_p_Zs,  &B::_p_Wc,  &B::_p_Ws,  &B::_p_Wcps, &B::_p_dpc, &B::_p_dps,
        &B::_p_frequency,       &B::_memo_re, &B::_memo_im, &B::_memo_phase};
    tembra_state::copy_arrays(t, from, arrays, t->_num_resonators);
    t->_accPower = from->_accPower;
    t->_memo_mode = from->_memo_mode;
    t->_memo_rest = from->_memo_rest;
}

extern "C" {

// Everything of tracking_resonator_bank_vec_new after the processor check.
__attribute__((noinline)) static tracking_resonator_bank_vec create_tracking_resonator_bank_vec(
    int num_resonators, const float* natural_frequencies, const float* alphas,
    const float* betas, const float* gammas, float samplerate) noexcept {
    auto t = static_cast<tracking_resonator_bank_vec>(std::calloc(1, sizeof(_tracking_resonator_bank_vec)));
    if (t == nullptr) return nullptr;
    const int n = num_resonators;
    t->_path = tembra_simd::choose_path();
    t->_samplerate = samplerate;
    t->_num_resonators = n;
    t->_limit_range = 0;
    t->_sigma = 1.0f;
    t->_omSigma = 0.0f;
    t->_two_pi_inv = kTwoPiInv;
    t->_sample_rate_inv = 1.0f / samplerate;

    t->_omega_range_min = alloc_floats(n);
    t->_omega_range_max = alloc_floats(n);
    t->_natural_frequencies = alloc_floats(n);
    t->_alpha = alloc_floats(n);
    t->_omAlpha = alloc_floats(n);
    t->_cos = alloc_floats(n);
    t->_sin = alloc_floats(n);
    t->_beta = alloc_floats(n);
    t->_omBeta = alloc_floats(n);
    t->_cc = alloc_floats(n);
    t->_ss = alloc_floats(n);
    t->_dpc = alloc_floats(n);
    t->_dps = alloc_floats(n);
    t->_gamma = alloc_floats(n);
    t->_omGamma = alloc_floats(n);
    t->_track_frequency_power_threshold = alloc_floats(n);
    t->_p_omega = alloc_floats(n);
    t->_p_Zc = alloc_floats(n);
    t->_p_Zs = alloc_floats(n);
    t->_p_Wc = alloc_floats(n);
    t->_p_Ws = alloc_floats(n);
    t->_p_Wcps = alloc_floats(n);
    t->_p_dpc = alloc_floats(n);
    t->_p_dps = alloc_floats(n);
    t->_p_frequency = alloc_floats(n);
    if (n <= 0) {
        tracking_resonator_bank_vec_restart(t);
        return t;
    }
    t->_scratch_power = alloc_floats(n);
    t->_scratch_step = alloc_floats(n);
    t->_memo_re = alloc_floats(n);
    t->_memo_im = alloc_floats(n);
    t->_memo_phase = alloc_floats(n);

    if (!t->_omega_range_min || !t->_omega_range_max || !t->_natural_frequencies || !t->_alpha ||
        !t->_omAlpha || !t->_cos || !t->_sin || !t->_beta || !t->_omBeta || !t->_cc || !t->_ss ||
        !t->_dpc || !t->_dps || !t->_gamma || !t->_omGamma || !t->_track_frequency_power_threshold ||
        !t->_p_omega || !t->_p_Zc || !t->_p_Zs || !t->_p_Wc || !t->_p_Ws || !t->_p_Wcps ||
        !t->_p_dpc || !t->_p_dps || !t->_p_frequency || !t->_scratch_power ||
        !t->_scratch_step || !t->_memo_re || !t->_memo_im || !t->_memo_phase) {
        tracking_resonator_bank_vec_free(t);
        return nullptr;
    }

    const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(float);
    std::memcpy(t->_natural_frequencies, natural_frequencies, bytes);
    std::memcpy(t->_alpha, alphas, bytes);
    std::memcpy(t->_beta, betas, bytes);
    std::memcpy(t->_gamma, gammas, bytes);

    for (int i = 0; i < n; ++i) {
        t->_omega_range_min[i] = -1.0f;
        t->_omega_range_max[i] = -1.0f;
        t->_omAlpha[i] = 1.0f - alphas[i];
        t->_omBeta[i] = 1.0f - betas[i];
        t->_omGamma[i] = 1.0f - gammas[i];
    }
    tracking_resonator_bank_vec_restart(t);
    return t;
}

MORVANE_BASELINE_CODE
tracking_resonator_bank_vec tracking_resonator_bank_vec_new(
    int num_resonators, const float* natural_frequencies, const float* alphas,
    const float* betas, const float* gammas, float samplerate) noexcept {
    if (!morvane_cpu_has_build_level())
        return nullptr;
    return create_tracking_resonator_bank_vec(num_resonators, natural_frequencies, alphas, betas,
                                              gammas, samplerate);
}

MORVANE_BASELINE_CODE
void tracking_resonator_bank_vec_free(tracking_resonator_bank_vec t) noexcept {
    if (t == nullptr) return;
    release_arrays(t);
    std::free(t);
}

}  // extern "C"

namespace {

// One resonator at a time, in index order: the plain form of the update.
// The whole-bank passes (tracking_update.cpp) compute the same values.
void update_one_by_one(tracking_resonator_bank_vec t, float sample) {
    const float lastAccPower = t->_accPower;
    float maxPower = 0.0f;
    const float factor = tracking_steps::freq_to_omega(t);
    const float hz_per_omega = tracking_steps::omega_to_freq(t);
    const bool limit = t->_limit_range != 0;
    float* threshold = t->_track_frequency_power_threshold;
    for (int i = 0; i < t->_num_resonators; ++i) {
        // The threshold follows the loudest resonator below this one in this
        // same sample: a loud low partial mutes the weak ones above it.
        threshold[i] = static_cast<float>(std::max(static_cast<double>(maxPower), 0.001) * 0.001);
        const float power = tracking_steps::demodulate(t, i, sample);
        tracking_steps::decide(t, i, power > threshold[i], factor, hz_per_omega, limit);
        tracking_steps::rotate(t, i);
        if (!(maxPower > power)) maxPower = power;
    }
    t->_accPower = t->_omSigma * lastAccPower + t->_sigma * maxPower;
}

}  // namespace

extern "C" {

// Input is not guarded: a NaN sample stays in S and C for good, and the
// resonators it reaches rest at their natural frequencies from then on
// (their powers compare false), while Z keeps turning on the unit circle.
void tracking_resonator_bank_vec_update(tracking_resonator_bank_vec t, float sample) noexcept {
#if defined(TEMBRA_TRACKING_UPDATE) && !MORVANE_REFERENCE
    tracking_update(t->_path, t, sample);
#else
    update_one_by_one(t, sample);
#endif
}

}  // extern "C"

void tracking_resonator_bank_vec_update_one_by_one(tracking_resonator_bank_vec t, float sample) noexcept {
    update_one_by_one(t, sample);
}

extern "C" {

float tracking_resonator_bank_vec_get_samplerate(tracking_resonator_bank_vec t) noexcept {
    return t->_samplerate;
}

int tracking_resonator_bank_vec_get_num_resonators(tracking_resonator_bank_vec t) noexcept {
    return t->_num_resonators;
}

void tracking_resonator_bank_vec_get_frequencies(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict omega = t->_p_omega;
    float* __restrict out = dest;
    const float hz_per_omega = t->_samplerate * t->_two_pi_inv;
    const __m128 k = _mm_set1_ps(hz_per_omega);
    const __m128 sign = _mm_set1_ps(-0.0f);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 f = _mm_mul_ps(k, _mm_loadu_ps(omega + i));
        _mm_storeu_ps(out + i, _mm_xor_ps(f, sign));  // negation
    }
    for (; i < count; ++i) out[i] = -(hz_per_omega * omega[i]);
}

void tracking_resonator_bank_vec_get_resonant_frequencies(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    tracking_resonator_bank_vec_get_frequencies(t, dest, size);
}

float tracking_resonator_bank_vec_get_resonant_frequency_value(tracking_resonator_bank_vec t, int index) noexcept {
    if (index >= t->_num_resonators) return 0.0f;
    return -((t->_samplerate * t->_two_pi_inv) * t->_p_omega[index]);
}

void tracking_resonator_bank_vec_get_natural_frequencies(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict src = t->_natural_frequencies;
    float* __restrict out = dest;
    int i = 0;
    for (; i + 4 <= count; i += 4) _mm_storeu_ps(out + i, _mm_loadu_ps(src + i));
    for (; i < count; ++i) out[i] = src[i];
}

void tracking_resonator_bank_vec_get_powers(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict re = t->_cc;
    const float* __restrict im = t->_ss;
    float* __restrict out = dest;
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 c = _mm_loadu_ps(re + i);
        const __m128 s = _mm_loadu_ps(im + i);
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_mul_ps(c, c), _mm_mul_ps(s, s)));
    }
    for (; i < count; ++i) out[i] = re[i] * re[i] + im[i] * im[i];
}

void tracking_resonator_bank_vec_get_amplitudes(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict re = t->_cc;
    const float* __restrict im = t->_ss;
    float* __restrict out = dest;
    int i = 0;
#if defined(TEMBRA_TRACKING_READOUTS) && !MORVANE_REFERENCE
    // The groups of four at full vector width (tracking_readouts.cpp).
    i = tembra_simd::whole_groups(count);
    tracking_amplitudes_n(t->_path, re, im, out, i);
#endif
    for (; i < count; ++i) {
        const float p = re[i] * re[i] + im[i] * im[i];
        out[i] = static_cast<double>(p) > 1e-15 ? std::sqrt(p) : 0.0f;
    }
}

#if defined(TEMBRA_VECTOR_ATAN2_N) && !MORVANE_REFERENCE
// The phase readout of the first count resonators (a multiple of 4, > 0)
// into dest: arc tangents only for the groups whose C changed since their
// last arc tangents (at rest and in silence C stands still), the others
// from memory.
static void phases_from_memo(tracking_resonator_bank_vec t, float* dest, int count) {
    const float* __restrict re = t->_cc;
    const float* __restrict im = t->_ss;
    float* __restrict mre = t->_memo_re;
    float* __restrict mim = t->_memo_im;
    float* __restrict mph = t->_memo_phase;
    if (tembra_memo::resting(&t->_memo_rest, &t->_memo_mode)) {
        tembra_vmath::atan2_n(t->_path, im, re, dest, count);
        return;
    }
    const unsigned mode = tembra_fp::ftz_daz_bits();
    const bool reused = mode == t->_memo_mode;
    if (!reused) {
        // Results of another mode are not reused: start again from C = 0.
        const std::size_t bytes = static_cast<std::size_t>(t->_num_resonators) * sizeof(float);
        std::memset(mre, 0, bytes);
        std::memset(mim, 0, bytes);
        std::memset(mph, 0, bytes);
        t->_memo_mode = mode;
    }
    // Each run of consecutive changed groups at full vector width.
    int run = 0;
    int hits = 0;
    for (int g = 0; g < count; g += 4) {
        if (tembra_memo::same4(re + g, mre + g) && tembra_memo::same4(im + g, mim + g)) {
            ++hits;
            if (run < g) tembra_vmath::atan2_n(t->_path, mim + run, mre + run, mph + run, g - run);
            run = g + 4;
            continue;
        }
        tembra_memo::copy4(mre + g, re + g);
        tembra_memo::copy4(mim + g, im + g);
    }
    if (run < count) tembra_vmath::atan2_n(t->_path, mim + run, mre + run, mph + run, count - run);
    std::memcpy(dest, mph, static_cast<std::size_t>(count) * sizeof(float));
    tembra_memo::judge(&t->_memo_rest, reused, hits, count / 4);
}
#endif

void tracking_resonator_bank_vec_get_phases(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict re = t->_cc;
    const float* __restrict im = t->_ss;
    int i = 0;
#if defined(TEMBRA_VECTOR_ATAN2_N) && !MORVANE_REFERENCE
    // Four arc tangents per call, identical to the scalar ones.
    i = tembra_simd::whole_groups(count);
    if (i > 0) phases_from_memo(t, dest, i);
#endif
    for (; i < count; ++i)
        dest[i] = static_cast<float>(std::atan2(static_cast<double>(im[i]), static_cast<double>(re[i])));
}

void tracking_resonator_bank_vec_get_delta_phases(tracking_resonator_bank_vec t, float* dest, int size) noexcept {
    const int count = readout_count(t, size);
    const float* __restrict re = t->_dpc;
    const float* __restrict im = t->_dps;
    int i = 0;
#if defined(TEMBRA_VECTOR_ATAN2_N) && !MORVANE_REFERENCE
    i = tembra_simd::whole_groups(count);
    tembra_vmath::atan2_n(t->_path, im, re, dest, i);
#endif
    for (; i < count; ++i)
        dest[i] = static_cast<float>(std::atan2(static_cast<double>(im[i]), static_cast<double>(re[i])));
}

float tracking_resonator_bank_vec_get_accPower(tracking_resonator_bank_vec t) noexcept {
    return t->_accPower;
}

void tracking_resonator_bank_vec_limit_reso_range(tracking_resonator_bank_vec t, int flag) noexcept {
    t->_limit_range = flag;
    const int n = t->_num_resonators;
    if (n <= 0 || flag == 0) return;
    const float* f = t->_natural_frequencies;
    const double samplerate = static_cast<double>(t->_samplerate);
    for (int i = 0; i < n; ++i) {
        // Each band runs to the midpoints with the neighbours; the lowest
        // starts an octave down, the highest ends at its own frequency.
        const float min_freq = i == 0 ? 0.5f * f[0] : (f[i] + f[i - 1]) * 0.5f;
        const float max_freq = i == n - 1 ? f[i] : (f[i] + f[i + 1]) * 0.5f;
        // omega is negative: the upper frequency gives the lower omega.
        t->_omega_range_min[i] = static_cast<float>(static_cast<double>(max_freq) * (-kTwoPi) / samplerate);
        t->_omega_range_max[i] = static_cast<float>(static_cast<double>(min_freq) * (-kTwoPi) / samplerate);
    }
}

}  // extern "C"
