/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Phasor arithmetic shared by the oscillator bank and the damped oscillator
// bank: the creation of the per-oscillator phasors, the recomputation of a
// rotation phasor, the rotation of every phasor by one sample, the output
// sum and the phase-offset sine and cosine.
//
// Every oscillator is a unit complex phasor Z = (Zc, Zs) turned once per
// sample by W = (cos w, sin w), w = -2*pi*f / samplerate in radians per
// sample. The per-oscillator loops run four oscillators at a time in 128-bit
// single-precision vectors from index 0, then the remaining one to three one
// by one with the same arithmetic; with fewer than four every loop is scalar.
// The results are fixed to the last bit: every fused multiply-add below is
// written out, and nothing else is fused (the build disables contraction).
#ifndef TEMBRA_PHASOR_KERNELS_H
#define TEMBRA_PHASOR_KERNELS_H

#include <immintrin.h>
#include <math.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "memo.h"
#include "phasor_rotate.h"
#include "simd_path.h"
#include "phase_offsets.h"

// glibc's 4-lane 128-bit single-precision sine and cosine (libmvec).
extern "C" __m128 _ZGVbN4v_sinf(__m128);
extern "C" __m128 _ZGVbN4v_cosf(__m128);

// -2*pi in double precision.
static constexpr double kMinusTwoPi = -6.283185307179586;
// 1/(2*pi) in single precision.
static constexpr float kTwoPiInv = 0.15915494f;

// Allocates an array of n floats into *out, copying n values from src
// unless src is NULL. Returns false when memory runs out (an empty array
// that comes back as NULL is no failure).
static inline bool phasor_alloc(float** out, int n, const float* src) {
  const std::size_t bytes = sizeof(float) * static_cast<std::size_t>(n);
  *out = static_cast<float*>(std::malloc(bytes));
  if (*out == nullptr) return n == 0;
  if (src != nullptr && n > 0) std::memcpy(*out, src, bytes);
  return true;
}

// Copies n floats; nothing for an empty bank.
static inline void phasor_copy(float* __restrict dst, const float* __restrict src, int n) {
  if (n > 0) std::memcpy(dst, src, sizeof(float) * static_cast<std::size_t>(n));
}

// Radians per sample per Hz as applied after creation: -2*pi times the
// single-precision 1/samplerate, formed in double and rounded to float, so
// that w = f * factor is a single-precision product.
static inline float phasor_freq_to_omega(float sample_rate_inv) {
  return static_cast<float>(kMinusTwoPi * static_cast<double>(sample_rate_inv));
}

// A new frequency replaces the current one only if the two differ by more
// than 1e-15 Hz: the single-precision difference, its magnitude widened.
static inline bool phasor_frequency_changed(float current, float next) {
  return static_cast<double>(std::fabs(current - next)) > 1e-15;
}

// W for a new w. Sine and cosine are evaluated as two separate
// single-precision calls (the build keeps the compiler from merging them).
static inline void phasor_set_rotation(float omega, float* wc, float* ws, float* wcps) {
  const float c = ::cosf(omega);
  const float s = ::sinf(omega);
  *wc = c;
  *ws = s;
  *wcps = s + c;
}

// Creation of n oscillators at the given frequencies: w from the
// double-precision factor (1/samplerate) * (-2*pi), rounded once; W from
// one combined sine-and-cosine evaluation; Z = 1, no phase offset; the
// frequency taken back from w with samplerate * (-1/(2*pi)) in single
// precision, which may differ from the given one in its last bits.
static inline void phasor_init(int n, float samplerate, const float* frequencies,
                               float* __restrict omega, float* __restrict zc,
                               float* __restrict zs, float* __restrict wc,
                               float* __restrict ws, float* __restrict wcps,
                               float* __restrict dpc, float* __restrict dps,
                               float* __restrict frequency) {
  const double factor = (1.0 / static_cast<double>(samplerate)) * kMinusTwoPi;
  for (int i = 0; i < n; ++i) {
    omega[i] = static_cast<float>(static_cast<double>(frequencies[i]) * factor);
  }
  for (int i = 0; i < n; ++i) {
    float s;
    float c;
    ::sincosf(omega[i], &s, &c);
    wc[i] = c;
    ws[i] = s;
    wcps[i] = c + s;
  }
  for (int i = 0; i < n; ++i) {
    zc[i] = 1.0f;
    zs[i] = 0.0f;
    dpc[i] = 1.0f;
    dps[i] = 0.0f;
  }
  const float k = samplerate * -kTwoPiInv;
  for (int i = 0; i < n; ++i) frequency[i] = k * omega[i];
}

// Z <- Z * W with three real multiplications. With a, b = Z and c, d = W:
// ac is never rounded on its own but fused into both components,
//   Zc = fma(c, a, -bd),   Zs = fma(-c, a, abcd) - bd,
// where bd = b*d and abcd = (a + b) * (c + d) are rounded products and
// a + b is rounded before the multiplication.
//
// The rounding of this product is biased: with W fixed (a resting or
// steady oscillator) |Z| walks away from 1 by about 0.3 % per second at
// 48 kHz, so after a minute of silence some partials would come back
// louder by 1 dB and others softer, and after an hour by tens of dB.
// A phasor whose squared modulus has left 1 by more than 2^-10 is therefore
// pulled back with one first-order step k = (3 - |Z|^2) / 2 (all float).
// Within that band nothing is touched, so short runs keep every bit; the
// amplitude error stays below 0.05 %.
static inline void phasor_renormalize(float* zc, float* zs) {
  const float m = *zc * *zc + *zs * *zs;
  if (std::fabs(m - 1.0f) > kPhasorDrift) {
    const float k = (3.0f - m) * 0.5f;
    *zc = *zc * k;
    *zs = *zs * k;
  }
}

static inline void phasor_rotate(tembra_simd::Path path, int n, float* __restrict zc, float* __restrict zs,
                                 const float* __restrict wc, const float* __restrict ws,
                                 const float* __restrict wcps) {
  int i = 0;
#if defined(TEMBRA_PHASOR_ROTATE) && !MORVANE_REFERENCE
  // The groups of four at full vector width (phasor_rotate.cpp).
  i = tembra_simd::whole_groups(n);
  phasor_rotate_n(path, i, zc, zs, wc, ws, wcps);
#else
  (void)path;
#endif
  for (; i < n; ++i) {
    const float a = zc[i];
    const float b = zs[i];
    const float c = wc[i];
    const float d = ws[i];
    const float bd = b * d;
    const float abcd = (a + b) * wcps[i];
    float re = std::fma(c, a, -bd);
    float im = std::fma(-c, a, abcd) - bd;
    phasor_renormalize(&re, &im);
    zc[i] = re;
    zs[i] = im;
  }
}

// Sum over i of amp[i] * Re(Z[i] * e^(i*phi[i])). Per oscillator the
// bracket is fma(Zc, dpc, -(Zs*dps)) and the amplitude product is fused
// with the accumulation. Groups of four accumulate in four lane sums
// (oscillators 0, 1, 2, 3 modulo 4), combined as (l0 + l2) + (l1 + l3);
// the remaining oscillators are then added one by one in ascending order.
// With fewer than four oscillators it is a plain ascending sum from 0.
static inline float phasor_sum(int n, const float* __restrict amp, const float* __restrict zc,
                               const float* __restrict zs, const float* __restrict dpc,
                               const float* __restrict dps) {
  const int nv = tembra_simd::whole_groups(n);
  float sum = 0.0f;
  if (nv > 0) {
    alignas(16) float lane[4];
#if defined(__FMA__)
    __m128 acc = _mm_setzero_ps();
    for (int i = 0; i < nv; i += 4) {
      const __m128 re = _mm_fmsub_ps(_mm_loadu_ps(zc + i), _mm_loadu_ps(dpc + i),
                                     _mm_mul_ps(_mm_loadu_ps(zs + i), _mm_loadu_ps(dps + i)));
      acc = _mm_fmadd_ps(_mm_loadu_ps(amp + i), re, acc);
    }
    _mm_store_ps(lane, acc);
#else
    lane[0] = lane[1] = lane[2] = lane[3] = 0.0f;
    for (int i = 0; i < nv; i += 4) {
      for (int j = 0; j < 4; ++j) {
        const float re = std::fma(zc[i + j], dpc[i + j], -(zs[i + j] * dps[i + j]));
        lane[j] = std::fma(amp[i + j], re, lane[j]);
      }
    }
#endif
    sum = (lane[0] + lane[2]) + (lane[1] + lane[3]);
  }
  for (int i = nv; i < n; ++i) {
    const float re = std::fma(zc[i], dpc[i], -(zs[i] * dps[i]));
    sum = std::fma(amp[i], re, sum);
  }
  return sum;
}

// The same sum weighted twice: *out_l = sum of gains_l[i] * amp[i] * re[i]
// and, unless gains_r is NULL, *out_r likewise with gains_r, where re[i] is
// the bracket of phasor_sum. Each weighted amplitude is one rounded product,
// then accumulated exactly as phasor_sum accumulates (four lanes, combined
// as (0 + 2) + (1 + 3), the rest in ascending order): a gain of exactly 1
// leaves the amplitude's bits, so with all gains 1 each output is
// phasor_sum's sample bit for bit.
static inline void phasor_sum_pair(int n, const float* __restrict amp, const float* __restrict zc,
                                   const float* __restrict zs, const float* __restrict dpc,
                                   const float* __restrict dps, const float* __restrict gains_l,
                                   const float* __restrict gains_r, float* out_l, float* out_r) {
  const int nv = tembra_simd::whole_groups(n);
  const bool two = gains_r != nullptr;
  float sum_l = 0.0f, sum_r = 0.0f;
  if (nv > 0) {
    alignas(16) float lane_l[4], lane_r[4];
#if defined(__FMA__)
    __m128 acc_l = _mm_setzero_ps(), acc_r = _mm_setzero_ps();
    for (int i = 0; i < nv; i += 4) {
      const __m128 a = _mm_loadu_ps(amp + i);
      const __m128 re = _mm_fmsub_ps(_mm_loadu_ps(zc + i), _mm_loadu_ps(dpc + i),
                                     _mm_mul_ps(_mm_loadu_ps(zs + i), _mm_loadu_ps(dps + i)));
      acc_l = _mm_fmadd_ps(_mm_mul_ps(a, _mm_loadu_ps(gains_l + i)), re, acc_l);
      if (two) acc_r = _mm_fmadd_ps(_mm_mul_ps(a, _mm_loadu_ps(gains_r + i)), re, acc_r);
    }
    _mm_store_ps(lane_l, acc_l);
    _mm_store_ps(lane_r, acc_r);
#else
    for (int j = 0; j < 4; ++j) lane_l[j] = lane_r[j] = 0.0f;
    for (int i = 0; i < nv; i += 4) {
      for (int j = 0; j < 4; ++j) {
        const float re = std::fma(zc[i + j], dpc[i + j], -(zs[i + j] * dps[i + j]));
        lane_l[j] = std::fma(amp[i + j] * gains_l[i + j], re, lane_l[j]);
        if (two) lane_r[j] = std::fma(amp[i + j] * gains_r[i + j], re, lane_r[j]);
      }
    }
#endif
    sum_l = (lane_l[0] + lane_l[2]) + (lane_l[1] + lane_l[3]);
    sum_r = (lane_r[0] + lane_r[2]) + (lane_r[1] + lane_r[3]);
  }
  for (int i = nv; i < n; ++i) {
    const float re = std::fma(zc[i], dpc[i], -(zs[i] * dps[i]));
    sum_l = std::fma(amp[i] * gains_l[i], re, sum_l);
    if (two) sum_r = std::fma(amp[i] * gains_r[i], re, sum_r);
  }
  *out_l = sum_l;
  if (two) *out_r = sum_r;
}

// Output phase offsets: dpc = cos(phase), dps = sin(phase), the groups of
// four with the library's 4-lane vector routines (at full vector width on
// the bank's path: phase_offsets.cpp, the same bits) and the rest with the
// scalar ones (the two may differ in their last bits).
static inline void phasor_offsets_x4(const float* phases, float* dpc, float* dps) {
  const __m128 p = _mm_loadu_ps(phases);
  _mm_storeu_ps(dpc, _ZGVbN4v_cosf(p));
  _mm_storeu_ps(dps, _ZGVbN4v_sinf(p));
}

// The oscillators from index i to n - 1, one by one.
static inline void phasor_offsets_scalar(int i, int n, const float* phases, float* dpc, float* dps) {
  for (; i < n; ++i) {
    dpc[i] = ::cosf(phases[i]);
    dps[i] = ::sinf(phases[i]);
  }
}

static inline void phasor_set_offsets(tembra_simd::Path path, int n, const float* __restrict phases,
                                      float* __restrict dpc, float* __restrict dps) {
  int i = 0;
  const int nv = tembra_simd::whole_groups(n);
#if defined(TEMBRA_PHASE_OFFSETS) && !MORVANE_REFERENCE
  phase_offsets_n(path, nv, phases, dpc, dps);
  i = nv;
#else
  (void)path;
  for (; i < nv; i += 4) phasor_offsets_x4(phases + i, dpc + i, dps + i);
#endif
  phasor_offsets_scalar(i, n, phases, dpc, dps);
}

// No phases remembered yet.
static constexpr unsigned kPhasorNoMemo = tembra_memo::kNoMode;

// phasor_set_offsets for a bank that keeps the phases its offsets were last
// computed from (memo, n floats) and their floating-point mode (*mode):
// groups of four whose phases have the same bits keep their sine and
// cosine, each run of the others is evaluated as phasor_set_offsets
// evaluates them.
static inline void phasor_set_offsets_memo(tembra_simd::Path path, int n, const float* __restrict phases,
                                           float* __restrict dpc, float* __restrict dps, float* __restrict memo,
                                           unsigned* mode, int* rest) {
#if defined(TEMBRA_PHASE_OFFSETS) && !MORVANE_REFERENCE
  if (tembra_memo::resting(rest, mode)) {
    phasor_set_offsets(path, n, phases, dpc, dps);
    return;
  }
  const unsigned now = tembra_fp::ftz_daz_bits();
  const bool reuse = now == *mode;
  *mode = now;
  const int nv = tembra_simd::whole_groups(n);
  int hits = 0;
  int run = 0;  // first group of the current run of changed groups
  for (int g = 0; g < nv; g += 4) {
    if (reuse && tembra_memo::same4(phases + g, memo + g)) {
      ++hits;
      if (run < g) phase_offsets_n(path, g - run, phases + run, dpc + run, dps + run);
      run = g + 4;
      continue;
    }
    tembra_memo::copy4(memo + g, phases + g);
  }
  if (run < nv) phase_offsets_n(path, nv - run, phases + run, dpc + run, dps + run);
  phasor_offsets_scalar(nv, n, phases, dpc, dps);
  tembra_memo::judge(rest, reuse, hits, nv / 4);
#else
  (void)memo;
  (void)mode;
  (void)rest;
  phasor_set_offsets(path, n, phases, dpc, dps);
#endif
}

#endif  // TEMBRA_PHASOR_KERNELS_H
