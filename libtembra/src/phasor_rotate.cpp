// SPDX-License-Identifier: LGPL-2.1-or-later
// The rotation of an oscillator bank's phasors, compiled once per vector
// path (Highway's foreach_target): eight phasors per step on AVX2, sixteen
// on AVX-512. Every lane is independent, so the width changes no bit.
#include "phasor_rotate.h"

#if defined(TEMBRA_PHASOR_ROTATE)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "phasor_rotate.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_rotate {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// With a, b = Z and c, d = W: Zc = fma(c, a, -bd), Zs = fma(-c, a, abcd) - bd,
// bd = b d and abcd = (a + b)(c + d) rounded products; then a phasor whose
// |Z|^2 = m has left 1 by more than kPhasorDrift is scaled by (3 - m) / 2.
template <class DF>
HWY_INLINE void rotate_at(DF df, int i, float* HWY_RESTRICT zc, float* HWY_RESTRICT zs, const float* HWY_RESTRICT wc,
                          const float* HWY_RESTRICT ws, const float* HWY_RESTRICT wcps) {
  const auto a = hn::LoadU(df, zc + i);
  const auto b = hn::LoadU(df, zs + i);
  const auto c = hn::LoadU(df, wc + i);
  const auto bd = hn::Mul(b, hn::LoadU(df, ws + i));
  const auto abcd = hn::Mul(hn::Add(a, b), hn::LoadU(df, wcps + i));
  auto re = hn::MulSub(c, a, bd);
  auto im = hn::Sub(hn::NegMulAdd(c, a, abcd), bd);
  const auto m = hn::Add(hn::Mul(re, re), hn::Mul(im, im));
  const auto off = hn::Gt(hn::AndNot(hn::Set(df, -0.0f), hn::Sub(m, hn::Set(df, 1.0f))), hn::Set(df, kPhasorDrift));
  if (!hn::AllFalse(df, off)) {
    const auto k = hn::Mul(hn::Sub(hn::Set(df, 3.0f), m), hn::Set(df, 0.5f));
    re = hn::IfThenElse(off, hn::Mul(re, k), re);
    im = hn::IfThenElse(off, hn::Mul(im, k), im);
  }
  hn::StoreU(re, df, zc + i);
  hn::StoreU(im, df, zs + i);
}

void rotate_n(int count, float* HWY_RESTRICT zc, float* HWY_RESTRICT zs, const float* HWY_RESTRICT wc,
              const float* HWY_RESTRICT ws, const float* HWY_RESTRICT wcps) {
  tembra_vmath::HWY_NAMESPACE::for_groups(hn::ScalableTag<float>(), count,
                                          [&](auto df, int i) { rotate_at(df, i, zc, zs, wc, ws, wcps); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_rotate
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void phasor_rotate_n(tembra_simd::Path path, int count, float* zc, float* zs, const float* wc, const float* ws,
                     const float* wcps) noexcept {
  TEMBRA_ON_PATH(path, tembra_rotate, rotate_n(count, zc, zs, wc, ws, wcps));
}
#endif

#endif  // TEMBRA_PHASOR_ROTATE
