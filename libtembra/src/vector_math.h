/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copyright (C) 2014-2022 Free Software Foundation, Inc. (the vector sine
//   and cosine of the GNU C Library's libmvec, reproduced below)
// Copyright (C) 2018-2022 Free Software Foundation, Inc. (its scalar sinf
//   and cosf, reproduced below)
// Both are part of the GNU C Library, under the same licence.
//
// Four-lane forms of the scalar sinf and cosf on the per-sample paths, whose
// results are identical, bit for bit, to the scalar calls they replace:
//
//   sincosf_x4/_x8:   s = sinf(x), c = cosf(x)
//
// (The arc tangents are in vector_atan2.h.)
//
// sinf and cosf are evaluated for |x| < 120 with the same argument
// reduction and the same polynomials, operation for operation and with the
// same fused multiply-adds, as the scalar routines of the C library this
// project builds against (glibc 2.36, its FMA variants, which it selects on
// every processor with AVX2 and FMA), four lanes of doubles at a time; other
// arguments take the scalar calls. A C library with other routines would
// break the equivalence: tests/test_vector_math.cpp then fails.
//
// The equivalences are proven by the long tests
// (tests/long/test_vector_math_long.cpp): exhaustively over every float with
// |x| < 120 for the sine and cosine, under flush-to-zero and
// denormals-are-zero, the mode the engine runs in.
#ifndef TEMBRA_VECTOR_MATH_H
#define TEMBRA_VECTOR_MATH_H

#include <immintrin.h>
#include <math.h>

#include <cmath>
#include <cstdint>

#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_MATH 1


namespace tembra_vmath {

// Coefficients of the sine and cosine polynomials on the reduced argument
// r in [-pi/4, pi/4], with x = r * r:
//   sin r ~ r + r^3 (s1 + x s2 + x^2 s3),  cos r ~ c0 + x c1 + x^2 c2 + x^3 (c3 + x c4).
// Each quadrant n of x = n * pi/2 + r selects one of them and a sign.
struct SinCosConstants {
  static constexpr double hpi_inv = 0x1.45f306dc9c883p+23;  // 2/pi, scaled by 2^24
  static constexpr double hpi = 0x1.921fb54442d18p+0;       // pi/2
  static constexpr double c0 = 1.0;
  static constexpr double c1 = -0x1.ffffffd0c621cp-2;
  static constexpr double c2 = 0x1.55553e1068f19p-5;
  static constexpr double c3 = -0x1.6c087e89a359dp-10;
  static constexpr double c4 = 0x1.99343027bf8c3p-16;
  static constexpr double s1 = -0x1.555545995a603p-3;
  static constexpr double s2 = 0x1.1107605230bc4p-7;
  static constexpr double s3 = -0x1.994eb3774cf24p-13;
};

// Sine and cosine of four floats for |x| < 120; other lanes hold garbage
// and are marked by sincos_outside.
static inline void sincosf_core(__m128 xf, __m128* s_out, __m128* c_out) {
  using K = SinCosConstants;
  const __m256d x = _mm256_cvtps_pd(xf);
  // Quadrant: n = ((int)(x * 2^24 * 2/pi) + 2^23) >> 24, then r = x - n pi/2
  // with one rounding.
  const __m128i t = _mm256_cvttpd_epi32(_mm256_mul_pd(x, _mm256_set1_pd(K::hpi_inv)));
  const __m128i n = _mm_srai_epi32(_mm_add_epi32(t, _mm_set1_epi32(0x800000)), 24);
  const __m256d r = _mm256_fnmadd_pd(_mm256_cvtepi32_pd(n), _mm256_set1_pd(K::hpi), x);
  const __m256d x2 = _mm256_mul_pd(r, r);

  // Odd polynomial (sine of r).
  const __m256d x3 = _mm256_mul_pd(x2, r);
  const __m256d s1p = _mm256_fmadd_pd(x2, _mm256_set1_pd(K::s3), _mm256_set1_pd(K::s2));
  const __m256d x5 = _mm256_mul_pd(x2, x3);
  const __m256d sr = _mm256_fmadd_pd(x3, _mm256_set1_pd(K::s1), r);
  const __m256d sin_r = _mm256_fmadd_pd(s1p, x5, sr);

  // Even polynomial (cosine of r).
  const __m256d x4 = _mm256_mul_pd(x2, x2);
  const __m256d c1p = _mm256_fmadd_pd(x2, _mm256_set1_pd(K::c1), _mm256_set1_pd(K::c0));
  const __m256d c2p = _mm256_fmadd_pd(x2, _mm256_set1_pd(K::c4), _mm256_set1_pd(K::c3));
  const __m256d x6 = _mm256_mul_pd(x2, x4);
  const __m256d cr = _mm256_fmadd_pd(x4, _mm256_set1_pd(K::c2), c1p);
  const __m256d cos_r = _mm256_fmadd_pd(c2p, x6, cr);

  // Odd quadrants swap the two; the sine is negative in quadrants 2 and 3,
  // the cosine in quadrants 1 and 2. Negation is exact, so the negated
  // polynomials of those quadrants are the polynomials negated. The masks
  // are bits of n moved to the sign bit: bit 0 (odd), bit 1 (sine
  // negative) and bit 1 xor bit 0 (cosine negative).
  const __m128 sin_f = _mm256_cvtpd_ps(sin_r);
  const __m128 cos_f = _mm256_cvtpd_ps(cos_r);
  const __m128 odd = _mm_castsi128_ps(_mm_slli_epi32(n, 31));
  const __m128 bit1 = _mm_castsi128_ps(_mm_slli_epi32(n, 30));
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 s_neg = _mm_and_ps(bit1, sign);
  const __m128 c_neg = _mm_and_ps(_mm_xor_ps(bit1, odd), sign);
  const __m128 s = _mm_xor_ps(_mm_blendv_ps(sin_f, cos_f, odd), s_neg);
  const __m128 c = _mm_xor_ps(_mm_blendv_ps(cos_f, sin_f, odd), c_neg);

  // |x| < 2^-12: the sine is x itself and the cosine 1 (rare here: skipped
  // when no lane is that small).
  const __m128 ax = _mm_andnot_ps(sign, xf);
  const __m128 tiny = _mm_cmplt_ps(ax, _mm_set1_ps(0x1p-12f));
  if (_mm_movemask_ps(tiny) == 0) {
    *s_out = s;
    *c_out = c;
  } else {
    *s_out = _mm_blendv_ps(s, xf, tiny);
    *c_out = _mm_blendv_ps(c, _mm_set1_ps(1.0f), tiny);
  }
}

// Lanes outside |x| < 120 (NaN included).
static inline int sincos_outside(__m128 xf) {
  const __m128 ax = _mm_andnot_ps(_mm_set1_ps(-0.0f), xf);
  return _mm_movemask_ps(_mm_cmpnlt_ps(ax, _mm_set1_ps(120.0f)));
}

// The scalar calls for the lanes in outside.
static inline void sincos_redo(__m128 xf, int outside, __m128* s_io, __m128* c_io) {
  alignas(16) float xo[4], so[4], co[4];
  _mm_store_ps(xo, xf);
  _mm_store_ps(so, *s_io);
  _mm_store_ps(co, *c_io);
  for (int j = 0; j < 4; ++j) {
    if (outside & (1 << j)) {
      so[j] = ::sinf(xo[j]);
      co[j] = ::cosf(xo[j]);
    }
  }
  *s_io = _mm_load_ps(so);
  *c_io = _mm_load_ps(co);
}

// Sine and cosine of four floats. Lanes with |x| >= 120 or not finite are
// recomputed with the scalar calls.
static inline void sincosf_x4(__m128 xf, __m128* s_out, __m128* c_out) {
  sincosf_core(xf, s_out, c_out);
  const int outside = sincos_outside(xf);
  if (outside != 0) sincos_redo(xf, outside, s_out, c_out);
}

// Two groups of four, interleaved so that their latencies overlap.
static inline void sincosf_x8(__m128 x0, __m128 x1, __m128* s0, __m128* c0, __m128* s1, __m128* c1) {
  sincosf_core(x0, s0, c0);
  sincosf_core(x1, s1, c1);
  const int out0 = sincos_outside(x0);
  const int out1 = sincos_outside(x1);
  if ((out0 | out1) != 0) {
    if (out0 != 0) sincos_redo(x0, out0, s0, c0);
    if (out1 != 0) sincos_redo(x1, out1, s1, c1);
  }
}

// The 4-lane single-precision sine and cosine of the C library's vector
// math library (_ZGVbN4v_sinf, _ZGVbN4v_cosf: glibc 2.36, its SSE4.1
// variants), eight lanes at a time in 256-bit registers. Every step is the
// same unfused single-precision operation on the same constants in the same
// order, so each lane gets the bits the 4-lane call gives; lanes with
// |x| > 10000 or not a number take the scalar calls, as the library does.
// The equivalence is proven over every float by a long test.
//
//   n = rint(x / pi) (sine: of |x|; cosine: of (x + pi/2) / pi - 1/2)
//   r = x - n * pi, with pi split in four parts, each product rounded
//   result = (r ^ odd(n)) + r^2 * p(r^2) * (r ^ odd(n)), p of degree 3
struct Sin4Constants {
  static constexpr float inv_pi = 0x1.45f306p-2f;    // 1/pi
  static constexpr float shifter = 0x1.8p23f;        // rounds to an integer
  static constexpr float half_pi = 0x1.921fb6p0f;    // pi/2
  static constexpr float pi1 = 0x1.92p1f;            // pi in four parts
  static constexpr float pi2 = 0x1.fb4p-11f;
  static constexpr float pi3 = 0x1.444p-23f;
  static constexpr float pi4 = 0x1.68c234p-38f;
  static constexpr float a3 = -0x1.55554cp-3f;       // polynomial in r^2
  static constexpr float a5 = 0x1.110ed4p-7f;
  static constexpr float a7 = -0x1.9f6ffep-13f;
  static constexpr float a9 = 0x1.5dbdf0p-19f;
  static constexpr float limit = 10000.0f;
};

// r = x - n pi with four rounded products, then the odd polynomial.
static inline __m256 sin4_eval(__m256 x, __m256 n_rounded, __m256 odd_sign) {
  using K = Sin4Constants;
  __m256 r = _mm256_sub_ps(x, _mm256_mul_ps(n_rounded, _mm256_set1_ps(K::pi1)));
  r = _mm256_sub_ps(r, _mm256_mul_ps(n_rounded, _mm256_set1_ps(K::pi2)));
  r = _mm256_sub_ps(r, _mm256_mul_ps(n_rounded, _mm256_set1_ps(K::pi3)));
  r = _mm256_sub_ps(r, _mm256_mul_ps(n_rounded, _mm256_set1_ps(K::pi4)));
  const __m256 r2 = _mm256_mul_ps(r, r);
  const __m256 rs = _mm256_xor_ps(r, odd_sign);
  __m256 p = _mm256_mul_ps(_mm256_set1_ps(K::a9), r2);
  p = _mm256_mul_ps(_mm256_add_ps(p, _mm256_set1_ps(K::a7)), r2);
  p = _mm256_mul_ps(_mm256_add_ps(p, _mm256_set1_ps(K::a5)), r2);
  p = _mm256_add_ps(p, _mm256_set1_ps(K::a3));
  return _mm256_add_ps(rs, _mm256_mul_ps(_mm256_mul_ps(r2, p), rs));
}

// Sine and cosine of eight floats, as two 4-lane library calls per half
// would give them.
static inline void sincosf_lib_x8(__m256 x, __m256* s_out, __m256* c_out) {
  using K = Sin4Constants;
  const __m256 sign_mask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256 shifter = _mm256_set1_ps(K::shifter);
  const __m256 ax = _mm256_and_ps(x, sign_mask);
  const __m256 x_sign = _mm256_andnot_ps(sign_mask, x);

  // Sine: n from |x|, the sign of x put back at the end.
  const __m256 ns = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(K::inv_pi), ax), shifter);
  const __m256 s_odd = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_castps_si256(ns), 31));
  const __m256 s = _mm256_xor_ps(sin4_eval(ax, _mm256_sub_ps(ns, shifter), s_odd), x_sign);

  // Cosine: cos x = sin(x + pi/2), n = rint((x + pi/2) / pi) - 1/2.
  const __m256 nc = _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_set1_ps(K::half_pi), x),
                                                _mm256_set1_ps(K::inv_pi)),
                                  shifter);
  const __m256 c_odd = _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_castps_si256(nc), 31));
  const __m256 c =
      sin4_eval(x, _mm256_sub_ps(_mm256_sub_ps(nc, shifter), _mm256_set1_ps(0.5f)), c_odd);

  const int outside = _mm256_movemask_ps(_mm256_cmp_ps(ax, _mm256_set1_ps(K::limit), _CMP_NLE_UQ));
  if (outside == 0) {
    *s_out = s;
    *c_out = c;
    return;
  }
  alignas(32) float xo[8], so[8], co[8];
  _mm256_store_ps(xo, x);
  _mm256_store_ps(so, s);
  _mm256_store_ps(co, c);
  for (int j = 0; j < 8; ++j) {
    if (outside & (1 << j)) {
      so[j] = ::sinf(xo[j]);
      co[j] = ::cosf(xo[j]);
    }
  }
  *s_out = _mm256_load_ps(so);
  *c_out = _mm256_load_ps(co);
}

}  // namespace tembra_vmath

#endif  // __AVX2__ && __FMA__

#endif  // TEMBRA_VECTOR_MATH_H
