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

#include "tracking_resonator_bank_vec_internal.h"
#include "memo.h"
#include "simd_path.h"
#include "vector_atan2.h"
#include "vector_atan2_n.h"
#include "vector_sincosf.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kTwoPiInv = 0.15915494f;  // the float nearest 1/(2 pi)

// n floats, zero-filled or not; NULL for n = 0, which is not a failure.
float* alloc_floats(int n, bool zeroed) {
    if (n <= 0) return nullptr;
    const std::size_t count = static_cast<std::size_t>(n);
    void* p = zeroed ? std::calloc(count, sizeof(float)) : std::malloc(count * sizeof(float));
    return static_cast<float*>(p);
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

// Sets omega and the rotation that belongs to it (sinf and cosf called
// separately, never merged into one sincosf).
inline void set_omega(float* __restrict omega, float* __restrict wc, float* __restrict ws,
                      float* __restrict wcps, int i, float value) {
    omega[i] = value;
    wc[i] = ::cosf(value);
    ws[i] = ::sinf(value);
    wcps[i] = ws[i] + wc[i];
}

// Number of entries an array readout writes.
inline int readout_count(tracking_resonator_bank_vec t, int size) {
    return std::min(size, t->_num_resonators);
}

}  // namespace

extern "C" {

tracking_resonator_bank_vec tracking_resonator_bank_vec_new(
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
    t->_accPower = 0.0001f;
    t->_two_pi_inv = kTwoPiInv;
    t->_sample_rate_inv = 1.0f / samplerate;

    t->_omega_range_min = alloc_floats(n, false);
    t->_omega_range_max = alloc_floats(n, false);
    t->_natural_frequencies = alloc_floats(n, false);
    t->_alpha = alloc_floats(n, false);
    t->_omAlpha = alloc_floats(n, false);
    t->_cos = alloc_floats(n, true);
    t->_sin = alloc_floats(n, true);
    t->_beta = alloc_floats(n, false);
    t->_omBeta = alloc_floats(n, false);
    t->_cc = alloc_floats(n, true);
    t->_ss = alloc_floats(n, true);
    t->_dpc = alloc_floats(n, false);
    t->_dps = alloc_floats(n, true);
    t->_gamma = alloc_floats(n, false);
    t->_omGamma = alloc_floats(n, false);
    t->_track_frequency_power_threshold = alloc_floats(n, false);
    t->_p_omega = alloc_floats(n, false);
    t->_p_Zc = alloc_floats(n, false);
    t->_p_Zs = alloc_floats(n, false);
    t->_p_Wc = alloc_floats(n, false);
    t->_p_Ws = alloc_floats(n, false);
    t->_p_Wcps = alloc_floats(n, false);
    t->_p_dpc = alloc_floats(n, false);
    t->_p_dps = alloc_floats(n, false);
    t->_p_frequency = alloc_floats(n, false);
    if (n <= 0) return t;
    t->_scratch_power = alloc_floats(n, false);
    t->_scratch_step = alloc_floats(n, false);
    t->_memo_re = alloc_floats(n, true);
    t->_memo_im = alloc_floats(n, true);
    t->_memo_phase = alloc_floats(n, true);
    t->_memo_mode = tembra_memo::kNoMode;
    t->_memo_rest = 0;

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

    // omega = f * ((1 / samplerate) * (-2 pi)) in double, rounded once.
    const double omega_per_hz = (1.0 / static_cast<double>(samplerate)) * (-kTwoPi);
    const float hz_per_omega = samplerate * (-kTwoPiInv);
    for (int i = 0; i < n; ++i) {
        t->_omega_range_min[i] = -1.0f;
        t->_omega_range_max[i] = -1.0f;
        t->_omAlpha[i] = 1.0f - alphas[i];
        t->_omBeta[i] = 1.0f - betas[i];
        t->_omGamma[i] = 1.0f - gammas[i];
        t->_dpc[i] = 1.0f;
        t->_track_frequency_power_threshold[i] = 0.001f;
        const float omega = static_cast<float>(static_cast<double>(natural_frequencies[i]) * omega_per_hz);
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
    return t;
}

void tracking_resonator_bank_vec_free(tracking_resonator_bank_vec t) noexcept {
    if (t == nullptr) return;
    release_arrays(t);
    std::free(t);
}

}  // extern "C"

namespace {

// One resonator at a time, in index order: the plain form of the update.
// The whole-bank passes below compute the same values.
void update_one_by_one(tracking_resonator_bank_vec t, float sample) {
    const int n = t->_num_resonators;
    const float lastAccPower = t->_accPower;
    float maxPower = 0.0f;
    const float factor = static_cast<float>(static_cast<double>(t->_sample_rate_inv) * (-kTwoPi));
    const float hz_per_omega = t->_samplerate * t->_two_pi_inv;
    const bool limit = t->_limit_range != 0;

    const float* __restrict natural = t->_natural_frequencies;
    const float* __restrict alpha = t->_alpha;
    const float* __restrict omAlpha = t->_omAlpha;
    const float* __restrict beta = t->_beta;
    const float* __restrict omBeta = t->_omBeta;
    const float* __restrict gamma = t->_gamma;
    const float* __restrict range_min = t->_omega_range_min;
    const float* __restrict range_max = t->_omega_range_max;
    const float* __restrict pdpc = t->_p_dpc;
    const float* __restrict pdps = t->_p_dps;
    float* __restrict s_re = t->_cos;
    float* __restrict s_im = t->_sin;
    float* __restrict c_re = t->_cc;
    float* __restrict c_im = t->_ss;
    float* __restrict d_re = t->_dpc;
    float* __restrict d_im = t->_dps;
    float* __restrict threshold = t->_track_frequency_power_threshold;
    float* __restrict omega = t->_p_omega;
    float* __restrict z_re = t->_p_Zc;
    float* __restrict z_im = t->_p_Zs;
    float* __restrict w_re = t->_p_Wc;
    float* __restrict w_im = t->_p_Ws;
    float* __restrict wcps = t->_p_Wcps;
    float* __restrict frequency = t->_p_frequency;

    for (int i = 0; i < n; ++i) {
        // The threshold follows the loudest resonator below this one in this
        // same sample: a loud low partial mutes the weak ones above it.
        threshold[i] = static_cast<float>(std::max(static_cast<double>(maxPower), 0.001) * 0.001);

        // Demodulate by Z * P and smooth through two one-pole stages.
        const float alpha_sample = sample * alpha[i];
        const float zc = z_re[i] * pdpc[i] - z_im[i] * pdps[i];
        const float zs = z_re[i] * pdps[i] + z_im[i] * pdpc[i];
        s_re[i] = omAlpha[i] * s_re[i] + alpha_sample * zc;
        s_im[i] = omAlpha[i] * s_im[i] + alpha_sample * zs;
        const float lcc = c_re[i];
        const float lss = c_im[i];
        c_re[i] = omBeta[i] * lcc + beta[i] * s_re[i];
        c_im[i] = omBeta[i] * lss + beta[i] * s_im[i];

        // Phase step D = conj(C before) * C after.
        d_re[i] = lcc * c_re[i] + lss * c_im[i];
        d_im[i] = lcc * c_im[i] - lss * c_re[i];

        const float power = c_re[i] * c_re[i] + c_im[i] * c_im[i];
        if (power > threshold[i]) {
            // Track: move omega by the fraction gamma of the phase step.
            const float previous = omega[i];
            const float d_omega = static_cast<float>(
                -static_cast<double>(gamma[i]) *
                std::atan2(static_cast<double>(d_im[i]), static_cast<double>(d_re[i])));
            const float candidate = previous + d_omega;
            const bool inside = range_min[i] < candidate && candidate < range_max[i];
            if (!limit || inside) {
                set_omega(omega, w_re, w_im, wcps, i, candidate);
            }
            // A rejected candidate leaves omega, and so W, as they were.
            frequency[i] = -(hz_per_omega * omega[i]);
        } else {
            // At rest: back to the natural frequency at once, Z runs on.
            const float f = natural[i];
            if (static_cast<double>(std::fabs(frequency[i] - f)) > 1e-15) {
                set_omega(omega, w_re, w_im, wcps, i, f * factor);
            }
            frequency[i] = f;
        }

        // Z <- Z * W with three multiplications, then back onto the unit
        // circle with the first-order factor (3 - |Z|^2) / 2.
        const float ac = z_re[i] * w_re[i];
        const float bd = z_im[i] * w_im[i];
        const float abcd = (z_re[i] + z_im[i]) * wcps[i];
        const float zr = ac - bd;
        const float zi = abcd - ac - bd;
        const float k = static_cast<float>(
            (3.0 - static_cast<double>(zr * zr) - static_cast<double>(zi * zi)) * 0.5);
        z_re[i] = zr * k;
        z_im[i] = k * zi;

        if (!(maxPower > power)) maxPower = power;
    }
    t->_accPower = t->_omSigma * lastAccPower + t->_sigma * maxPower;
}

#if defined(TEMBRA_VECTOR_SINCOSF) && !MORVANE_REFERENCE
#define TEMBRA_TRACKING_PASSES 1

// All-ones in the lanes whose bit is set in m (bits 0 to 3).
inline __m128i lane_mask(int m) {
    return _mm_cmpeq_epi32(_mm_and_si128(_mm_set1_epi32(m), _mm_setr_epi32(1, 2, 4, 8)), _mm_setr_epi32(1, 2, 4, 8));
}

// The same update as whole-bank passes, each operation the one of
// update_one_by_one on the same operands (no fusion, same order, the same
// double widening):
//   1. demodulation, both smoothing stages, phase step and power of every
//      resonator (8 lanes);
//   2. the thresholds, from the running maximum of the powers below each
//      resonator (a prefix maximum, 4 lanes);
//   3. the tracking decision, the phase-step arc tangents of the tracking
//      resonators and the natural frequency of those at rest, then sine and
//      cosine of every new omega (4 lanes);
//   4. rotation and renormalisation of every phasor (4 lanes).
// Resonators interact only through the thresholds, which depend on the
// powers of pass 1 alone, so the passes may run one after the other.
void update_passes(tracking_resonator_bank_vec t, float sample) {
    const int n = t->_num_resonators;
    const float lastAccPower = t->_accPower;
    const float factor = static_cast<float>(static_cast<double>(t->_sample_rate_inv) * (-kTwoPi));
    const float hz_per_omega = t->_samplerate * t->_two_pi_inv;
    const bool limit = t->_limit_range != 0;

    const float* __restrict natural = t->_natural_frequencies;
    const float* __restrict alpha = t->_alpha;
    const float* __restrict omAlpha = t->_omAlpha;
    const float* __restrict beta = t->_beta;
    const float* __restrict omBeta = t->_omBeta;
    const float* __restrict gamma = t->_gamma;
    const float* __restrict range_min = t->_omega_range_min;
    const float* __restrict range_max = t->_omega_range_max;
    const float* __restrict pdpc = t->_p_dpc;
    const float* __restrict pdps = t->_p_dps;
    float* __restrict s_re = t->_cos;
    float* __restrict s_im = t->_sin;
    float* __restrict c_re = t->_cc;
    float* __restrict c_im = t->_ss;
    float* __restrict d_re = t->_dpc;
    float* __restrict d_im = t->_dps;
    float* __restrict threshold = t->_track_frequency_power_threshold;
    float* __restrict omega = t->_p_omega;
    float* __restrict z_re = t->_p_Zc;
    float* __restrict z_im = t->_p_Zs;
    float* __restrict w_re = t->_p_Wc;
    float* __restrict w_im = t->_p_Ws;
    float* __restrict wcps = t->_p_Wcps;
    float* __restrict frequency = t->_p_frequency;
    float* __restrict power = t->_scratch_power;
    float* __restrict step = t->_scratch_step;

    // 1. Demodulate by Z * P, smooth, phase step D, power.
    int i = 0;
    const __m256 vsample = _mm256_set1_ps(sample);
    __m256 unordered = _mm256_setzero_ps();
    for (; i + 8 <= n; i += 8) {
        const __m256 zr = _mm256_loadu_ps(z_re + i);
        const __m256 zi = _mm256_loadu_ps(z_im + i);
        const __m256 pc = _mm256_loadu_ps(pdpc + i);
        const __m256 ps = _mm256_loadu_ps(pdps + i);
        const __m256 alpha_sample = _mm256_mul_ps(vsample, _mm256_loadu_ps(alpha + i));
        const __m256 zc = _mm256_sub_ps(_mm256_mul_ps(zr, pc), _mm256_mul_ps(zi, ps));
        const __m256 zs = _mm256_add_ps(_mm256_mul_ps(zr, ps), _mm256_mul_ps(zi, pc));
        const __m256 oma = _mm256_loadu_ps(omAlpha + i);
        const __m256 sr = _mm256_add_ps(_mm256_mul_ps(oma, _mm256_loadu_ps(s_re + i)), _mm256_mul_ps(alpha_sample, zc));
        const __m256 si = _mm256_add_ps(_mm256_mul_ps(oma, _mm256_loadu_ps(s_im + i)), _mm256_mul_ps(alpha_sample, zs));
        _mm256_storeu_ps(s_re + i, sr);
        _mm256_storeu_ps(s_im + i, si);
        const __m256 lcc = _mm256_loadu_ps(c_re + i);
        const __m256 lss = _mm256_loadu_ps(c_im + i);
        const __m256 omb = _mm256_loadu_ps(omBeta + i);
        const __m256 b = _mm256_loadu_ps(beta + i);
        const __m256 cr = _mm256_add_ps(_mm256_mul_ps(omb, lcc), _mm256_mul_ps(b, sr));
        const __m256 ci = _mm256_add_ps(_mm256_mul_ps(omb, lss), _mm256_mul_ps(b, si));
        _mm256_storeu_ps(c_re + i, cr);
        _mm256_storeu_ps(c_im + i, ci);
        _mm256_storeu_ps(d_re + i, _mm256_add_ps(_mm256_mul_ps(lcc, cr), _mm256_mul_ps(lss, ci)));
        _mm256_storeu_ps(d_im + i, _mm256_sub_ps(_mm256_mul_ps(lcc, ci), _mm256_mul_ps(lss, cr)));
        const __m256 p = _mm256_add_ps(_mm256_mul_ps(cr, cr), _mm256_mul_ps(ci, ci));
        unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(p, p, _CMP_UNORD_Q));
        _mm256_storeu_ps(power + i, p);
    }
    bool any_nan = _mm256_movemask_ps(unordered) != 0;
    for (; i < n; ++i) {
        const float alpha_sample = sample * alpha[i];
        const float zc = z_re[i] * pdpc[i] - z_im[i] * pdps[i];
        const float zs = z_re[i] * pdps[i] + z_im[i] * pdpc[i];
        s_re[i] = omAlpha[i] * s_re[i] + alpha_sample * zc;
        s_im[i] = omAlpha[i] * s_im[i] + alpha_sample * zs;
        const float lcc = c_re[i];
        const float lss = c_im[i];
        c_re[i] = omBeta[i] * lcc + beta[i] * s_re[i];
        c_im[i] = omBeta[i] * lss + beta[i] * s_im[i];
        d_re[i] = lcc * c_re[i] + lss * c_im[i];
        d_im[i] = lcc * c_im[i] - lss * c_re[i];
        power[i] = c_re[i] * c_re[i] + c_im[i] * c_im[i];
        if (std::isnan(power[i])) any_nan = true;
    }

    // 2. threshold[i] = max(maxPower, 0.001) * 0.001 in double, maxPower the
    // running maximum of the powers below i, updated as "maxPower becomes
    // power unless maxPower is greater". That is the max instruction's own
    // rule, and for powers without NaN (sums of squares: never -0) it is
    // associative, so a prefix maximum gives the same running values.
    float maxPower = 0.0f;
    i = 0;
    if (!any_nan) {
        __m128 carry = _mm_setzero_ps();  // running maximum, all lanes
        const __m256d floor_d = _mm256_set1_pd(0.001);
        for (; i + 4 <= n; i += 4) {
            const __m128 p = _mm_loadu_ps(power + i);
            // Inclusive prefix maximum within the group (zero is neutral
            // for non-negative powers).
            __m128 m = _mm_max_ps(p, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(p), 4)));
            m = _mm_max_ps(m, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(m), 8)));
            // Exclusive: lane j sees the powers below j.
            const __m128 below = _mm_max_ps(carry, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(m), 4)));
            const __m256d th = _mm256_mul_pd(_mm256_max_pd(floor_d, _mm256_cvtps_pd(below)), floor_d);
            _mm_storeu_ps(threshold + i, _mm256_cvtpd_ps(th));
            carry = _mm_max_ps(carry, _mm_shuffle_ps(m, m, _MM_SHUFFLE(3, 3, 3, 3)));
        }
        maxPower = _mm_cvtss_f32(carry);
    }
    for (; i < n; ++i) {
        threshold[i] = static_cast<float>(std::max(static_cast<double>(maxPower), 0.001) * 0.001);
        if (!(maxPower > power[i])) maxPower = power[i];
    }

    // 3. Decide, track and turn, four resonators at a time. Tracking lanes
    // (power above threshold) move omega by the fraction gamma of the phase
    // step (the arc tangents of a group are evaluated only if one of its
    // lanes tracks); lanes at rest go back to their natural frequency. W is
    // recomputed for the lanes whose omega changed, and the other lanes of
    // the group keep theirs.
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 vfactor = _mm_set1_ps(factor);
    const __m128 vhz = _mm_set1_ps(hz_per_omega);
    const __m256d eps = _mm256_set1_pd(1e-15);
    const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(-1));
    const __m128 vlimit = limit ? _mm_setzero_ps() : all;  // all lanes "inside" without limiting
    // The arc tangents first, for every group with a tracking lane, so that
    // the calls do not wait for the decisions and rotations of the others.
    for (i = 0; i + 4 <= n; i += 4) {
        const __m128 tracking = _mm_cmpgt_ps(_mm_loadu_ps(power + i), _mm_loadu_ps(threshold + i));
        if (_mm_movemask_ps(tracking) != 0) {
            // -(double)gamma: the sign flip of the widened value is exact.
            const __m256d scale = _mm256_xor_pd(_mm256_cvtps_pd(_mm_loadu_ps(gamma + i)), _mm256_set1_pd(-0.0));
            tembra_vmath::HWY_NAMESPACE::atan2_scaled(hwy::HWY_NAMESPACE::Full256<double>(), d_im + i, d_re + i,
                                                      hwy::HWY_NAMESPACE::Vec256<double>{scale}, step + i);
        }
    }
    for (i = 0; i + 4 <= n; i += 4) {
        const __m128 tracking = _mm_cmpgt_ps(_mm_loadu_ps(power + i), _mm_loadu_ps(threshold + i));
        const __m128 previous = _mm_loadu_ps(omega + i);
        const __m128 nat = _mm_loadu_ps(natural + i);
        __m128 freq = _mm_loadu_ps(frequency + i);
        // At rest: (double)|frequency - natural| > 1e-15 recomputes omega.
        const __m128 diff = _mm_andnot_ps(sign, _mm_sub_ps(freq, nat));
        const __m128 changed =
            _mm_castsi128_ps(lane_mask(_mm256_movemask_pd(_mm256_cmp_pd(_mm256_cvtps_pd(diff), eps, _CMP_GT_OQ))));
        __m128 turn = _mm_andnot_ps(tracking, changed);
        __m128 w = _mm_blendv_ps(previous, _mm_mul_ps(nat, vfactor), turn);
        freq = _mm_blendv_ps(nat, freq, tracking);
        if (_mm_movemask_ps(tracking) != 0) {
            const __m128 candidate = _mm_add_ps(previous, _mm_loadu_ps(step + i));
            const __m128 inside = _mm_and_ps(_mm_cmplt_ps(_mm_loadu_ps(range_min + i), candidate),
                                             _mm_cmplt_ps(candidate, _mm_loadu_ps(range_max + i)));
            // A rejected candidate leaves omega, and so W, as they were.
            const __m128 accept = _mm_and_ps(tracking, _mm_or_ps(vlimit, inside));
            w = _mm_blendv_ps(w, candidate, accept);
            freq = _mm_blendv_ps(freq, _mm_xor_ps(_mm_mul_ps(vhz, w), sign), tracking);
            turn = _mm_or_ps(turn, accept);
        }
        _mm_storeu_ps(omega + i, w);
        _mm_storeu_ps(frequency + i, freq);
        // W is always the sine and cosine of the stored omega: a lane whose
        // new omega has the bits of the previous one keeps its W as it is.
        turn = _mm_andnot_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_castps_si128(w), _mm_castps_si128(previous))), turn);
        if (_mm_movemask_ps(turn) != 0) {
            hwy::HWY_NAMESPACE::Vec128<float> vs, vc;
            tembra_vmath::HWY_NAMESPACE::sincosf_lanes(hwy::HWY_NAMESPACE::Full128<float>(),
                                                       hwy::HWY_NAMESPACE::Vec128<float>{w}, vs, vc);
            const __m128 s = vs.raw;
            const __m128 c = vc.raw;
            _mm_storeu_ps(w_re + i, _mm_blendv_ps(_mm_loadu_ps(w_re + i), c, turn));
            _mm_storeu_ps(w_im + i, _mm_blendv_ps(_mm_loadu_ps(w_im + i), s, turn));
            _mm_storeu_ps(wcps + i, _mm_blendv_ps(_mm_loadu_ps(wcps + i), _mm_add_ps(s, c), turn));
        }
    }
    for (; i < n; ++i) {
        if (power[i] > threshold[i]) {
            const float previous = omega[i];
            const float d_omega = static_cast<float>(
                -static_cast<double>(gamma[i]) *
                std::atan2(static_cast<double>(d_im[i]), static_cast<double>(d_re[i])));
            const float candidate = previous + d_omega;
            const bool inside = range_min[i] < candidate && candidate < range_max[i];
            if (!limit || inside) set_omega(omega, w_re, w_im, wcps, i, candidate);
            frequency[i] = -(hz_per_omega * omega[i]);
        } else {
            const float f = natural[i];
            if (static_cast<double>(std::fabs(frequency[i] - f)) > 1e-15) {
                set_omega(omega, w_re, w_im, wcps, i, f * factor);
            }
            frequency[i] = f;
        }
    }

    // 4. Z <- Z * W with three multiplications, then k = (3 - |Z|^2) / 2 in
    // double (the squares are float products).
    i = 0;
    const __m256d three = _mm256_set1_pd(3.0);
    const __m256d half = _mm256_set1_pd(0.5);
    for (; i + 4 <= n; i += 4) {
        const __m128 a = _mm_loadu_ps(z_re + i);
        const __m128 b = _mm_loadu_ps(z_im + i);
        const __m128 ac = _mm_mul_ps(a, _mm_loadu_ps(w_re + i));
        const __m128 bd = _mm_mul_ps(b, _mm_loadu_ps(w_im + i));
        const __m128 abcd = _mm_mul_ps(_mm_add_ps(a, b), _mm_loadu_ps(wcps + i));
        const __m128 zr = _mm_sub_ps(ac, bd);
        const __m128 zi = _mm_sub_ps(_mm_sub_ps(abcd, ac), bd);
        const __m256d k = _mm256_mul_pd(
            _mm256_sub_pd(_mm256_sub_pd(three, _mm256_cvtps_pd(_mm_mul_ps(zr, zr))), _mm256_cvtps_pd(_mm_mul_ps(zi, zi))),
            half);
        const __m128 kf = _mm256_cvtpd_ps(k);
        _mm_storeu_ps(z_re + i, _mm_mul_ps(zr, kf));
        _mm_storeu_ps(z_im + i, _mm_mul_ps(kf, zi));
    }
    for (; i < n; ++i) {
        const float ac = z_re[i] * w_re[i];
        const float bd = z_im[i] * w_im[i];
        const float abcd = (z_re[i] + z_im[i]) * wcps[i];
        const float zr = ac - bd;
        const float zi = abcd - ac - bd;
        const float k = static_cast<float>(
            (3.0 - static_cast<double>(zr * zr) - static_cast<double>(zi * zi)) * 0.5);
        z_re[i] = zr * k;
        z_im[i] = k * zi;
    }
    t->_accPower = t->_omSigma * lastAccPower + t->_sigma * maxPower;
}
#endif

}  // namespace

extern "C" {

// Input is not guarded: a NaN sample stays in S and C for good, and the
// resonators it reaches rest at their natural frequencies from then on
// (their powers compare false), while Z keeps turning on the unit circle.
void tracking_resonator_bank_vec_update(tracking_resonator_bank_vec t, float sample) noexcept {
#if defined(TEMBRA_TRACKING_PASSES)
    update_passes(t, sample);
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
    // (double)p > 1e-15 holds for a float p exactly when p >= floor.
    const __m128 floor = _mm_set1_ps(tracking_detail::amp_power_floor);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 c = _mm_loadu_ps(re + i);
        const __m128 s = _mm_loadu_ps(im + i);
        const __m128 p = _mm_add_ps(_mm_mul_ps(c, c), _mm_mul_ps(s, s));
        const __m128 audible = _mm_cmpge_ps(p, floor);  // false for NaN
        _mm_storeu_ps(out + i, _mm_and_ps(audible, _mm_sqrt_ps(p)));
    }
    for (; i < count; ++i) {
        const float p = re[i] * re[i] + im[i] * im[i];
        out[i] = static_cast<double>(p) > 1e-15 ? std::sqrt(p) : 0.0f;
    }
}

#if defined(TEMBRA_VECTOR_SINCOSF) && !MORVANE_REFERENCE
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
    const unsigned mode = tembra_memo::fp_mode();
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
#if defined(TEMBRA_VECTOR_SINCOSF) && !MORVANE_REFERENCE
    // Four arc tangents per call, identical to the scalar ones.
    i = count >= 4 ? count & ~3 : 0;
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
#if defined(TEMBRA_VECTOR_SINCOSF) && !MORVANE_REFERENCE
    i = count >= 4 ? count & ~3 : 0;
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
