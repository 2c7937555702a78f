/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copyright (C) 2018-2022 Free Software Foundation, Inc. (the reduction and
//   polynomials of the GNU C Library's scalar sinf and cosf, reproduced
//   below; part of the GNU C Library, under the same licence)
//
// Sine and cosine of float lanes, s = sinf(x) and c = cosf(x), identical
// bit for bit to the scalar calls, at any vector width. The header is
// included once per Highway target and defines sincosf_lanes in
// tembra_vmath::HWY_NAMESPACE.
//
// For |x| < 120 the lanes are evaluated with the same argument reduction
// and the same polynomials, operation for operation and with the same
// fused multiply-adds, as the scalar routines of the C library this project
// builds against (glibc 2.36, its FMA variants, which it selects on every
// processor with AVX2 and FMA), in double; other arguments (and NaN) take
// the scalar calls. A C library with other routines would break the
// equivalence: the tests then fail. The long test proves it for every
// float with |x| < 120 under flush-to-zero and denormals-are-zero.
#ifndef TEMBRA_VECTOR_SINCOSF_H
#define TEMBRA_VECTOR_SINCOSF_H
// Once, for every target.
#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_SINCOSF 1

#include <math.h>

#include <cstddef>
#include <cstdint>

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

}  // namespace tembra_vmath
#endif  // __AVX2__ && __FMA__
#endif  // TEMBRA_VECTOR_SINCOSF_H

// Per target (Highway's toggle).
#if defined(TEMBRA_VECTOR_SINCOSF) && (defined(TEMBRA_VECTOR_SINCOSF_TARGET_H) == defined(HWY_TARGET_TOGGLE))
#ifdef TEMBRA_VECTOR_SINCOSF_TARGET_H
#undef TEMBRA_VECTOR_SINCOSF_TARGET_H
#else
#define TEMBRA_VECTOR_SINCOSF_TARGET_H
#endif

#include <hwy/highway.h>

#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// s = sinf(xf), c = cosf(xf) for the float lanes of df (as many lanes as
// the target's vector of doubles holds).
template <class DF>
HWY_INLINE void sincosf_lanes(DF df, hn::Vec<DF> xf, hn::Vec<DF>& s_out, hn::Vec<DF>& c_out) {
  using K = SinCosConstants;
  const hn::Rebind<double, DF> d;
  const hn::Rebind<std::int32_t, DF> di;
  const auto x = hn::PromoteTo(d, xf);
  // Quadrant: n = ((int)(x * 2^24 * 2/pi) + 2^23) >> 24 (the conversion
  // truncates), then r = x - n pi/2 with one rounding.
  const auto t = hn::DemoteTo(di, hn::Mul(x, hn::Set(d, K::hpi_inv)));
  const auto n = hn::ShiftRight<24>(hn::Add(t, hn::Set(di, 0x800000)));
  const auto r = hn::NegMulAdd(hn::PromoteTo(d, n), hn::Set(d, K::hpi), x);
  const auto x2 = hn::Mul(r, r);

  // Odd polynomial (sine of r).
  const auto x3 = hn::Mul(x2, r);
  const auto s1p = hn::MulAdd(x2, hn::Set(d, K::s3), hn::Set(d, K::s2));
  const auto x5 = hn::Mul(x2, x3);
  const auto sr = hn::MulAdd(x3, hn::Set(d, K::s1), r);
  const auto sin_r = hn::MulAdd(s1p, x5, sr);

  // Even polynomial (cosine of r).
  const auto x4 = hn::Mul(x2, x2);
  const auto c1p = hn::MulAdd(x2, hn::Set(d, K::c1), hn::Set(d, K::c0));
  const auto c2p = hn::MulAdd(x2, hn::Set(d, K::c4), hn::Set(d, K::c3));
  const auto x6 = hn::Mul(x2, x4);
  const auto cr = hn::MulAdd(x4, hn::Set(d, K::c2), c1p);
  const auto cos_r = hn::MulAdd(c2p, x6, cr);

  // Odd quadrants swap the two; the sine is negative in quadrants 2 and 3,
  // the cosine in quadrants 1 and 2. Negation is exact, so the negated
  // polynomials of those quadrants are the polynomials negated.
  const auto sin_f = hn::DemoteTo(df, sin_r);
  const auto cos_f = hn::DemoteTo(df, cos_r);
  const auto odd = hn::RebindMask(df, hn::Ne(hn::And(n, hn::Set(di, 1)), hn::Zero(di)));
  const auto sign = hn::Set(df, -0.0f);
  const auto bit1 = hn::BitCast(df, hn::ShiftLeft<30>(n));  // bit 1 of n in the sign bit
  const auto s_neg = hn::And(bit1, sign);
  const auto c_neg = hn::And(hn::Xor(bit1, hn::BitCast(df, hn::ShiftLeft<31>(n))), sign);
  auto s = hn::Xor(hn::IfThenElse(odd, cos_f, sin_f), s_neg);
  auto c = hn::Xor(hn::IfThenElse(odd, sin_f, cos_f), c_neg);

  // |x| < 2^-12: the sine is x itself and the cosine 1.
  const auto ax = hn::AndNot(sign, xf);
  const auto tiny = hn::Lt(ax, hn::Set(df, 0x1p-12f));
  s = hn::IfThenElse(tiny, xf, s);
  c = hn::IfThenElse(tiny, hn::Set(df, 1.0f), c);

  // |x| >= 120 or NaN: the scalar calls.
  const auto outside = hn::Not(hn::Lt(ax, hn::Set(df, 120.0f)));
  if (!hn::AllFalse(df, outside)) sincosf_scalar_lanes(df, outside, xf, s, c);
  s_out = s;
  c_out = c;
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#endif  // per-target toggle
