// SPDX-License-Identifier: LGPL-2.1-or-later
// The resynthesis phase offsets, compiled once per vector path (Highway's
// foreach_target): eight phases per step on AVX2, sixteen on AVX-512, each
// lane with the bits of the library's 4-lane call.
#include "phase_offsets.h"

#if defined(TEMBRA_PHASE_OFFSETS)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "phase_offsets.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "vector_loops.h"
#include "vector_sincosf_lib.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_offsets {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

template <class DF>
HWY_INLINE void offsets_at(DF df, int i, const float* HWY_RESTRICT phases, float* HWY_RESTRICT dpc,
                           float* HWY_RESTRICT dps) {
  hn::Vec<DF> s, c;
  tembra_vmath::HWY_NAMESPACE::sincosf_lib_lanes(df, hn::LoadU(df, phases + i), s, c);
  hn::StoreU(c, df, dpc + i);
  hn::StoreU(s, df, dps + i);
}

void offsets_n(int count, const float* HWY_RESTRICT phases, float* HWY_RESTRICT dpc, float* HWY_RESTRICT dps) {
  tembra_vmath::HWY_NAMESPACE::for_groups(hn::ScalableTag<float>(), count,
                                          [&](auto df, int i) { offsets_at(df, i, phases, dpc, dps); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_offsets
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void phase_offsets_n(tembra_simd::Path path, int count, const float* phases, float* dpc, float* dps) noexcept {
  TEMBRA_ON_PATH(path, tembra_offsets, offsets_n(count, phases, dpc, dps));
}
#endif

#endif  // TEMBRA_PHASE_OFFSETS
