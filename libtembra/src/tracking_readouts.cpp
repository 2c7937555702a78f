// SPDX-License-Identifier: LGPL-2.1-or-later
// The tracking bank's amplitude readout, compiled once per vector path
// (Highway's foreach_target): eight resonators per step on AVX2, sixteen on
// AVX-512.
#include "tracking_readouts.h"

#if defined(TEMBRA_TRACKING_READOUTS)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tracking_readouts.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "femto_floor.h"
#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_readouts {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

template <class DF>
HWY_INLINE void amplitudes_at(DF df, int i, const float* HWY_RESTRICT re, const float* HWY_RESTRICT im,
                              float* HWY_RESTRICT out) {
  const auto c = hn::LoadU(df, re + i);
  const auto s = hn::LoadU(df, im + i);
  const auto p = hn::Add(hn::Mul(c, c), hn::Mul(s, s));
  // (double)p > 1e-15 holds for a float p exactly when p >= kFemtoFloor
  // (false for NaN).
  const auto audible = hn::Ge(p, hn::Set(df, tembra_floor::kFemtoFloor));
  hn::StoreU(hn::IfThenElseZero(audible, hn::Sqrt(p)), df, out + i);
}

void amplitudes_n(const float* HWY_RESTRICT re, const float* HWY_RESTRICT im, float* HWY_RESTRICT out, int count) {
  tembra_vmath::HWY_NAMESPACE::for_groups(hn::ScalableTag<float>(), count,
                                          [&](auto df, int i) { amplitudes_at(df, i, re, im, out); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_readouts
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void tracking_amplitudes_n(tembra_simd::Path path, const float* re, const float* im, float* out, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_readouts, amplitudes_n(re, im, out, count));
}
#endif

#endif  // TEMBRA_TRACKING_READOUTS
