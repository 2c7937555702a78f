// SPDX-License-Identifier: LGPL-2.1-or-later
// The smoothing law alpha(f) over whole vectors, compiled once per vector
// path (Highway's foreach_target): AVX2 evaluates four resonators per
// step, AVX-512 eight, each lane with the same operations.
#include "smoothing_alphas.h"

#if defined(TEMBRA_SMOOTHING_ALPHAS)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "smoothing_alphas.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "vector_exp_log.h"
#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_alphas {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// alpha(f) for the count (a multiple of 4, at most kChunk vectors of d)
// frequencies at f: every logarithm first, then the quotients, then the
// exponentials, so that the independent evaluations and divisions of a
// chunk overlap instead of waiting for each other (on AVX2 the synthesis
// update takes a fifth less time than with one vector after the other).
constexpr int kChunk = 16;

template <class D>
HWY_INLINE void alphas_chunk(D d, const float* HWY_RESTRICT f, float dt, float* HWY_RESTRICT out, int count) {
  namespace vm = tembra_vmath::HWY_NAMESPACE;
  const hn::Rebind<float, D> df;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const auto one = hn::Set(d, 1.0);
  alignas(64) double q[kChunk * hn::MaxLanes(d)];
  for (int i = 0; i < count; i += lanes)  // ln(1 + f)
    hn::Store(vm::log_lib(d, hn::Add(hn::PromoteTo(d, hn::LoadU(df, f + i)), one)), d, q + i);
  for (int i = 0; i < count; i += lanes) {  // -(f dt), widened, over ln(1 + f)
    const auto neg_x = hn::PromoteTo(d, hn::Neg(hn::Mul(hn::LoadU(df, f + i), hn::Set(df, dt))));
    hn::Store(hn::Div(neg_x, hn::Load(d, q + i)), d, q + i);
  }
  for (int i = 0; i < count; i += lanes) {
    const auto e = vm::exp_lib(d, hn::Load(d, q + i));
    // A frequency not above the threshold gives 0 (a zero one gives 0/0
    // before this mask).
    const auto live = hn::Gt(hn::PromoteTo(d, hn::LoadU(df, f + i)), hn::Set(d, 1e-15));
    hn::StoreU(hn::DemoteTo(df, hn::IfThenElseZero(live, hn::Sub(one, e))), df, out + i);
  }
}

void alphas_n(const float* HWY_RESTRICT f, float dt, float* HWY_RESTRICT out, int count) {
  tembra_vmath::HWY_NAMESPACE::for_chunks<kChunk>(hn::ScalableTag<double>(), count, [&](auto d, int i, int n) {
    alphas_chunk(d, f + i, dt, out + i, n);
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_alphas
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void smoothing_alphas(tembra_simd::Path path, const float* frequencies, float dt, float* alphas, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_alphas, alphas_n(frequencies, dt, alphas, count));
}
#endif

#endif  // TEMBRA_SMOOTHING_ALPHAS
