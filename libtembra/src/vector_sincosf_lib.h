/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copyright (C) 2014-2022 Free Software Foundation, Inc. (the vector sine
//   and cosine of the GNU C Library's libmvec, reproduced below; part of
//   the GNU C Library, under the same licence)
//
// The C library's 4-lane single-precision sine and cosine (libmvec:
// _ZGVbN4v_sinf, _ZGVbN4v_cosf of glibc 2.36, its SSE4.1 variants) at any
// vector width, with the bits of the 4-lane calls: the resynthesis phase
// offsets. Every step is the same unfused single-precision operation on the
// same constants in the same order, so each lane gets the bits the 4-lane
// call gives; lanes with |x| > 10000 or not a number take the scalar calls,
// as the library does. The long test proves the equivalence over every
// float. The header is included once per Highway target and defines
// sincosf_lib_lanes in tembra_vmath::HWY_NAMESPACE. (The sine and cosine
// with the bits of the scalar sinf and cosf are in vector_sincosf.h.)
//
//   n = rint(x / pi) (sine: of |x|; cosine: of (x + pi/2) / pi - 1/2)
//   r = x - n * pi, with pi split in four parts, each product rounded
//   result = (r ^ odd(n)) + r^2 * p(r^2) * (r ^ odd(n)), p of degree 3
#ifndef TEMBRA_VECTOR_SINCOSF_LIB_H
#define TEMBRA_VECTOR_SINCOSF_LIB_H
// Once, for every target.
#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_SINCOSF_LIB 1

#include <math.h>

#include <cstddef>
#include <cstdint>

namespace tembra_vmath {

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

}  // namespace tembra_vmath
#endif  // __AVX2__ && __FMA__
#endif  // TEMBRA_VECTOR_SINCOSF_LIB_H

// Per target (Highway's toggle).
#if defined(TEMBRA_VECTOR_SINCOSF_LIB) && \
    (defined(TEMBRA_VECTOR_SINCOSF_LIB_TARGET_H) == defined(HWY_TARGET_TOGGLE))
#ifdef TEMBRA_VECTOR_SINCOSF_LIB_TARGET_H
#undef TEMBRA_VECTOR_SINCOSF_LIB_TARGET_H
#else
#define TEMBRA_VECTOR_SINCOSF_LIB_TARGET_H
#endif

#include <hwy/highway.h>

#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// r = x - n pi with four rounded products, then the odd polynomial.
template <class DF>
HWY_INLINE hn::Vec<DF> sin4_eval(DF df, hn::Vec<DF> x, hn::Vec<DF> n_rounded, hn::Vec<DF> odd_sign) {
  using K = Sin4Constants;
  auto r = hn::Sub(x, hn::Mul(n_rounded, hn::Set(df, K::pi1)));
  r = hn::Sub(r, hn::Mul(n_rounded, hn::Set(df, K::pi2)));
  r = hn::Sub(r, hn::Mul(n_rounded, hn::Set(df, K::pi3)));
  r = hn::Sub(r, hn::Mul(n_rounded, hn::Set(df, K::pi4)));
  const auto r2 = hn::Mul(r, r);
  const auto rs = hn::Xor(r, odd_sign);
  auto p = hn::Mul(hn::Set(df, K::a9), r2);
  p = hn::Mul(hn::Add(p, hn::Set(df, K::a7)), r2);
  p = hn::Mul(hn::Add(p, hn::Set(df, K::a5)), r2);
  p = hn::Add(p, hn::Set(df, K::a3));
  return hn::Add(rs, hn::Mul(hn::Mul(r2, p), rs));
}

// s and c of the float lanes of df, as the 4-lane library calls give them.
template <class DF>
HWY_INLINE void sincosf_lib_lanes(DF df, hn::Vec<DF> x, hn::Vec<DF>& s_out, hn::Vec<DF>& c_out) {
  using K = Sin4Constants;
  const hn::RebindToUnsigned<DF> du;
  const auto sign = hn::Set(df, -0.0f);
  const auto shifter = hn::Set(df, K::shifter);
  const auto ax = hn::AndNot(sign, x);
  const auto x_sign = hn::And(sign, x);
  // The lowest bit of the rounded n (in the shifted float's mantissa), moved
  // to the sign bit.
  auto odd_sign = [&](hn::Vec<DF> shifted) { return hn::BitCast(df, hn::ShiftLeft<31>(hn::BitCast(du, shifted))); };

  // Sine: n from |x|, the sign of x put back at the end.
  const auto ns = hn::Add(hn::Mul(hn::Set(df, K::inv_pi), ax), shifter);
  auto s = hn::Xor(sin4_eval(df, ax, hn::Sub(ns, shifter), odd_sign(ns)), x_sign);

  // Cosine: cos x = sin(x + pi/2), n = rint((x + pi/2) / pi) - 1/2.
  const auto nc = hn::Add(hn::Mul(hn::Add(hn::Set(df, K::half_pi), x), hn::Set(df, K::inv_pi)), shifter);
  auto c = sin4_eval(df, x, hn::Sub(hn::Sub(nc, shifter), hn::Set(df, 0.5f)), odd_sign(nc));

  // |x| > 10000 or NaN: the scalar calls.
  const auto outside = hn::Not(hn::Le(ax, hn::Set(df, K::limit)));
  if (!hn::AllFalse(df, outside)) sincosf_scalar_lanes(df, outside, x, s, c);
  s_out = s;
  c_out = c;
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#endif  // per-target toggle
