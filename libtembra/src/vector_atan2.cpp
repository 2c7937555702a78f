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
  const hn::ScalableTag<double> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const int whole = count / lanes * lanes;
  int i = 0;
  while (i < whole) {
    const int n = whole - i < kChunk * lanes ? whole - i : kChunk * lanes;
    atan2_chunk(d, y + i, x + i, out + i, n);
    i += n;
  }
  // A last group of four where the vectors are wider.
  if (i < count) atan2_chunk(hn::CappedTag<double, 4>(), y + i, x + i, out + i, count - i);
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tembra_vmath {
void atan2_n(tembra_simd::Path path, const float* y, const float* x, float* out, int count) noexcept {
  if (path == tembra_simd::kAvx512)
    N_AVX3::atan2_array(y, x, out, count);
  else
    N_AVX2::atan2_array(y, x, out, count);
}
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_ATAN2_N
