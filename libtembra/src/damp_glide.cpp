// SPDX-License-Identifier: LGPL-2.1-or-later
// The damped bank's glide, compiled once per vector path (Highway's
// foreach_target): AVX2 glides four oscillators per step, AVX-512 eight.
#include "damp_glide.h"

#if defined(TEMBRA_DAMP_GLIDE)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "damp_glide.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "femto_floor.h"

#include "vector_loops.h"
#include "vector_sincosf.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_glide {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// count oscillators from index 0 of a (a multiple of 4, at most kChunk
// vectors of d): every glide first, then the sine and cosine of the moved
// ones, so that the evaluations of a chunk overlap.
constexpr int kChunk = 16;

template <class D>
HWY_INLINE void glide_chunk(D d, const damp_glide_arrays& a, int count, float omega_to_freq, float freq_to_omega) {
  const hn::Rebind<float, D> df;
  const int lanes = static_cast<int>(hn::Lanes(d));
  alignas(64) float moved_lanes[kChunk * hn::MaxLanes(df)];  // all bits set where W is recomputed
  bool any = false;
  for (int i = 0; i < count; i += lanes) {
    const auto alpha = hn::LoadU(df, a.alphas + i);
    const auto one_minus_alpha = hn::Sub(hn::Set(d, 1.0), hn::PromoteTo(d, alpha));
    // x (1 - alpha) + alpha target: the product by 1 - alpha fused.
    const auto amp_target = hn::PromoteTo(d, hn::Mul(alpha, hn::LoadU(df, a.target_amp + i)));
    const auto amp = hn::PromoteTo(d, hn::LoadU(df, a.amplitude + i));
    hn::StoreU(hn::DemoteTo(df, hn::MulAdd(amp, one_minus_alpha, amp_target)), df, a.amplitude + i);
    // The glide starts from the frequency that omega stands for.
    const auto w = hn::LoadU(df, a.omega + i);
    const auto current = hn::PromoteTo(d, hn::Neg(hn::Mul(hn::Set(df, omega_to_freq), w)));
    const auto freq_target = hn::PromoteTo(d, hn::Mul(alpha, hn::LoadU(df, a.target_freq + i)));
    const auto freq = hn::DemoteTo(df, hn::MulAdd(current, one_minus_alpha, freq_target));
    // Moved: (double)|frequency - freq| > 1e-15 (femto_floor.h); then
    // omega follows.
    const auto diff = hn::AndNot(hn::Set(df, -0.0f), hn::Sub(hn::LoadU(df, a.frequency + i), freq));
    const auto moved = hn::Ge(diff, hn::Set(df, tembra_floor::kFemtoFloor));
    hn::StoreU(freq, df, a.frequency + i);
    hn::StoreU(hn::IfThenElse(moved, hn::Mul(freq, hn::Set(df, freq_to_omega)), w), df, a.omega + i);
    hn::Store(hn::VecFromMask(df, moved), df, moved_lanes + i);
    any = any || !hn::AllFalse(df, moved);
  }
  if (!any) return;
  // W is recomputed only while the gliding frequency moves.
  for (int i = 0; i < count; i += lanes) {
    const auto moved = hn::MaskFromVec(hn::Load(df, moved_lanes + i));
    if (hn::AllFalse(df, moved)) continue;
    hn::Vec<decltype(df)> s, c;
    tembra_vmath::HWY_NAMESPACE::sincosf_lanes(df, hn::LoadU(df, a.omega + i), s, c);
    // All lanes moved, the common case while the frequencies glide: no
    // blending (the glide stage takes 7 % less time on AVX2).
    if (hn::AllTrue(df, moved)) {
      hn::StoreU(c, df, a.wc + i);
      hn::StoreU(s, df, a.ws + i);
      hn::StoreU(hn::Add(s, c), df, a.wcps + i);
      continue;
    }
    hn::StoreU(hn::IfThenElse(moved, c, hn::LoadU(df, a.wc + i)), df, a.wc + i);
    hn::StoreU(hn::IfThenElse(moved, s, hn::LoadU(df, a.ws + i)), df, a.ws + i);
    hn::StoreU(hn::IfThenElse(moved, hn::Add(s, c), hn::LoadU(df, a.wcps + i)), df, a.wcps + i);
  }
}

// The arrays from index i on.
inline damp_glide_arrays from(const damp_glide_arrays& a, int i) {
  return {a.alphas + i, a.target_amp + i, a.target_freq + i, a.amplitude + i, a.frequency + i,
          a.omega + i,  a.wc + i,         a.ws + i,          a.wcps + i};
}

void glide_n(const damp_glide_arrays& a, int count, float omega_to_freq, float freq_to_omega) {
  tembra_vmath::HWY_NAMESPACE::for_chunks<kChunk>(hn::ScalableTag<double>(), count, [&](auto d, int i, int n) {
    glide_chunk(d, from(a, i), n, omega_to_freq, freq_to_omega);
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_glide
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void damp_glide(tembra_simd::Path path, const damp_glide_arrays& a, int count, float omega_to_freq,
                float freq_to_omega) noexcept {
  TEMBRA_ON_PATH(path, tembra_glide, glide_n(a, count, omega_to_freq, freq_to_omega));
}
#endif

#endif  // TEMBRA_DAMP_GLIDE
