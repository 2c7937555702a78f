// SPDX-License-Identifier: LGPL-2.1-or-later
// Arc tangents over arrays, compiled once per vector path (Highway's
// foreach_target).
#include "vector_atan2_n.h"

#if defined(TEMBRA_VECTOR_ATAN2_N)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_atan2.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "vector_atan2.h"
#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

// The arc tangents of count (a multiple of 4, at most kChunk vectors of d)
// pairs: every kernel evaluation first, then the rounding checks, so that
// the divisions and polynomials of a chunk overlap.
constexpr int kChunk = 16;

template <class D>
HWY_INLINE void atan2_chunk(D d, const float* y, const float* x, float* out, int count) {
  const hn::Rebind<float, D> df;
  const int lanes = static_cast<int>(hn::Lanes(d));
  alignas(64) double r[kChunk * hn::MaxLanes(d)];
  for (int i = 0; i < count; i += lanes)
    hn::Store(atan2_lanes(d, hn::PromoteTo(d, hn::LoadU(df, y + i)), hn::PromoteTo(d, hn::LoadU(df, x + i))), d,
              r + i);
  const auto one = hn::Set(d, 1.0);
  for (int i = 0; i < count; i += lanes) atan2_finish(d, hn::Load(d, r + i), one, y + i, x + i, out + i);
}

void atan2_array(const float* y, const float* x, float* out, int count) {
  for_chunks<kChunk>(hn::ScalableTag<double>(), count,
                     [&](auto d, int i, int n) { atan2_chunk(d, y + i, x + i, out + i, n); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tembra_vmath {
void atan2_n(tembra_simd::Path path, const float* y, const float* x, float* out, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_vmath, atan2_array(y, x, out, count));
}
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_ATAN2_N
