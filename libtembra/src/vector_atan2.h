/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Arc tangents of float pairs, (float)(scale * atan2((double)y, (double)x)),
// identical bit for bit to the scalar expression, at any vector width. The
// header is included once per Highway target and defines its kernels in
// tembra_vmath::HWY_NAMESPACE.
//
// atan2 is evaluated by atan2_lanes below in double, whose relative error
// is below 2^-44 for every pair of finite floats. The double result
// decides the float only when it does not lie within a relative 2^-40 of a
// float rounding boundary (then every value within the error bound rounds
// to the same float, also the scalar call's); the few lanes that do lie
// that close, and every lane with a non-finite argument, take the scalar
// call. The long tests prove the bound on 10^8 random and a set of
// adversarial pairs, under flush-to-zero and denormals-are-zero.
#ifndef TEMBRA_VECTOR_ATAN2_H
#define TEMBRA_VECTOR_ATAN2_H
// Once, for every target.
#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_ATAN2 1

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tembra_vmath {

// The scalar expression the vector lanes stand for.
inline float atan2_scaled_scalar(float y, float x, double scale) {
  return static_cast<float>(scale * std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

// atan t = t P(t^2) on |t| <= tan(pi/8), P of degree 8, a Chebyshev fit of
// relative error 2.7e-14 (2^-45).
struct Atan2Constants {
  static constexpr double tan_pi_8 = 0x1.a827999fcef32p-2;
  static constexpr double pi_4 = 0x1.921fb54442d18p-1;
  static constexpr double pi_2 = 0x1.921fb54442d18p+0;
  static constexpr double pi = 0x1.921fb54442d18p+1;
  static constexpr double p[9] = {0x1.f65f98a6d1466p-6,  -0x1.e13d4fe7944cap-5, 0x1.35cf2e1ebd059p-4,
                                  -0x1.73d9d72891b8bp-4, 0x1.c714d4c311554p-4,  -0x1.2492291db1906p-3,
                                  0x1.99999911d787ep-3,  -0x1.55555554e6115p-2, 0x1.fffffffffff0fp-1};
};

}  // namespace tembra_vmath
#endif  // __AVX2__ && __FMA__
#endif  // TEMBRA_VECTOR_ATAN2_H

// Per target (Highway's toggle).
#if defined(TEMBRA_VECTOR_ATAN2) && (defined(TEMBRA_VECTOR_ATAN2_TARGET_H) == defined(HWY_TARGET_TOGGLE))
#ifdef TEMBRA_VECTOR_ATAN2_TARGET_H
#undef TEMBRA_VECTOR_ATAN2_TARGET_H
#else
#define TEMBRA_VECTOR_ATAN2_TARGET_H
#endif

#include <hwy/highway.h>

#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Arc tangents of y/x in (-pi, pi] for finite y and x (floats widened; both
// zero gives the signed zero or pi of atan2).
//   t = min(|x|, |y|) / max(|x|, |y|) in [0, 1], and for t > tan(pi/8)
//   t = (min - max) / (min + max) in (-0.42, 0] with pi/4 added back; the
//   sum and difference of two widened floats this close are exact, so the
//   quotient is the only rounding of the reduction.
//   atan t = t P(t^2), Horner with fused multiply-adds.
//   Then pi/2 - r when |y| > |x|, pi - r when x has its sign bit set, and
//   the sign of y. The results of those steps lie at or above pi/8, so each
//   adds no more than a double rounding: below 2^-44 in all.
template <class D>
HWY_INLINE hn::Vec<D> atan2_lanes(D d, hn::Vec<D> y, hn::Vec<D> x) {
  using K = Atan2Constants;
  const hn::RebindToSigned<D> di;
  const auto sign = hn::Set(d, -0.0);
  const auto ax = hn::AndNot(sign, x);
  const auto ay = hn::AndNot(sign, y);
  const auto swap = hn::Gt(ay, ax);
  const auto lo = hn::Min(ax, ay);
  const auto hi = hn::Max(ax, ay);
  const auto big = hn::Gt(lo, hn::Mul(hi, hn::Set(d, K::tan_pi_8)));
  const auto num = hn::IfThenElse(big, hn::Sub(lo, hi), lo);
  const auto den = hn::IfThenElse(big, hn::Add(lo, hi), hi);
  // Both zero: t = 0 instead of 0/0.
  const auto t = hn::IfThenZeroElse(hn::Eq(den, hn::Zero(d)), hn::Div(num, den));
  const auto t2 = hn::Mul(t, t);
  auto p = hn::Set(d, K::p[0]);
  for (int k = 1; k < 9; ++k) p = hn::MulAdd(p, t2, hn::Set(d, K::p[k]));
  auto r = hn::MulAdd(t, p, hn::IfThenElseZero(big, hn::Set(d, K::pi_4)));
  r = hn::IfThenElse(swap, hn::Sub(hn::Set(d, K::pi_2), r), r);
  const auto x_negative = hn::Lt(hn::BitCast(di, x), hn::Zero(di));  // x's sign bit
  r = hn::IfThenElse(hn::RebindMask(d, x_negative), hn::Sub(hn::Set(d, K::pi), r), r);
  return hn::Or(r, hn::And(y, sign));
}

// out[j] = (float)(scale[j] * atan2(y[j], x[j])) for the lanes of d, from the
// kernel's result r = atan2_lanes(y, x) (in double): the lanes whose float
// rounding the kernel does not decide, or whose arguments are not finite,
// take the scalar expression.
template <class D>
HWY_INLINE void atan2_finish(D d, hn::Vec<D> r, hn::Vec<D> scale, const float* y, const float* x,
                             float* out) {
  const hn::Rebind<float, D> df;
  const hn::RebindToSigned<decltype(df)> di;
  const auto v = hn::Mul(scale, r);
  hn::StoreU(hn::DemoteTo(df, v), df, out);
  const auto lo = hn::DemoteTo(df, hn::Mul(v, hn::Set(d, 1.0 - 0x1p-40)));
  const auto hi = hn::DemoteTo(df, hn::Mul(v, hn::Set(d, 1.0 + 0x1p-40)));
  const auto exponent = hn::Set(di, 0x7f800000);
  const auto y_inf_nan = hn::Eq(hn::And(hn::BitCast(di, hn::LoadU(df, y)), exponent), exponent);
  const auto x_inf_nan = hn::Eq(hn::And(hn::BitCast(di, hn::LoadU(df, x)), exponent), exponent);
  const auto redo = hn::Or(hn::Not(hn::Eq(lo, hi)), hn::RebindMask(df, hn::Or(y_inf_nan, x_inf_nan)));
  if (hn::AllFalse(df, redo)) return;
  alignas(64) double scales[hn::MaxLanes(d)];
  hn::Store(scale, d, scales);
  for_set_lanes(df, redo, [&](std::size_t j) { out[j] = atan2_scaled_scalar(y[j], x[j], scales[j]); });
}

// The lanes of d at y, x: atan2_finish of the kernel's result.
template <class D>
HWY_INLINE void atan2_scaled(D d, const float* y, const float* x, hn::Vec<D> scale, float* out) {
  const hn::Rebind<float, D> df;
  const auto r = atan2_lanes(d, hn::PromoteTo(d, hn::LoadU(df, y)), hn::PromoteTo(d, hn::LoadU(df, x)));
  atan2_finish(d, r, scale, y, x, out);
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#endif  // per-target toggle
