/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copyright (C) 2014-2022 Free Software Foundation, Inc. (the vector sine
//   and cosine of the GNU C Library's libmvec, reproduced below; part of
//   the GNU C Library, under the same licence)
//
// The C library's 4-lane single-precision sine and cosine (libmvec), eight
// lanes at a time, with the bits of the 4-lane calls: the resynthesis phase
// offsets. (The sine and cosine with the bits of the scalar sinf and cosf
// are in vector_sincosf.h, the arc tangents in vector_atan2.h.) The long
// test proves the equivalence over every float.
#ifndef TEMBRA_VECTOR_SINCOSF_LIB_H
#define TEMBRA_VECTOR_SINCOSF_LIB_H

#include <immintrin.h>
#include <math.h>

#include <cmath>
#include <cstdint>

#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_MATH 1


namespace tembra_vmath {

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

#endif  // TEMBRA_VECTOR_SINCOSF_LIB_H
