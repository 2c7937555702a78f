// SPDX-License-Identifier: LGPL-2.1-or-later
// The shake stages' per-resonator loops, compiled once per vector path
// (Highway's foreach_target): four resonators per step on AVX2, eight on
// AVX-512, each the scalar form's operations.
#include "shake_vec.h"

#if defined(QUIVEX_SHAKE_VEC)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "shake_vec.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace quivex_shake_vec {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using tembra_vmath::HWY_NAMESPACE::for_groups;

void apply_amount(float amount, float lfo_val, float* HWY_RESTRICT buf, int count) {
  for_groups(hn::ScalableTag<double>(), count, [&](auto d, int i) {
    const hn::Rebind<float, decltype(d)> df;
    const auto x = hn::LoadU(df, buf + i);
    const auto wet = hn::Mul(hn::Set(df, amount * lfo_val), x);
    const auto dry_gain = hn::Set(d, 1.0 - static_cast<double>(amount));
    hn::StoreU(hn::DemoteTo(df, hn::Add(hn::Mul(dry_gain, hn::PromoteTo(d, x)), hn::PromoteTo(d, wet))), df, buf + i);
  });
}

void mix(float amount, const float* HWY_RESTRICT dry, float* HWY_RESTRICT ai, int count) {
  for_groups(hn::ScalableTag<double>(), count, [&](auto d, int i) {
    const hn::Rebind<float, decltype(d)> df;
    const auto wet = hn::Mul(hn::Set(df, amount), hn::LoadU(df, ai + i));
    const auto dry_gain = hn::Set(d, 1.0 - static_cast<double>(amount));
    const auto y = hn::Add(hn::Mul(hn::PromoteTo(d, hn::LoadU(df, dry + i)), dry_gain), hn::PromoteTo(d, wet));
    hn::StoreU(hn::DemoteTo(df, y), df, ai + i);
  });
}

void filter_time(const float* HWY_RESTRICT alphas, float* HWY_RESTRICT prev, float* HWY_RESTRICT x, int count) {
  for_groups(hn::ScalableTag<double>(), count, [&](auto d, int i) {
    const hn::Rebind<float, decltype(d)> df;
    const auto a = hn::LoadU(df, alphas + i);
    const auto memory = hn::Mul(a, hn::LoadU(df, prev + i));
    const auto weight = hn::Sub(hn::Set(d, 1.0), hn::PromoteTo(d, a));
    const auto y = hn::DemoteTo(
        df, hn::Add(hn::Mul(weight, hn::PromoteTo(d, hn::LoadU(df, x + i))), hn::PromoteTo(d, memory)));
    hn::StoreU(y, df, prev + i);
    hn::StoreU(y, df, x + i);
  });
}

}  // namespace HWY_NAMESPACE
}  // namespace quivex_shake_vec
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quivex_shake_vec {

void apply_amount_n(tembra_simd::Path path, float amount, float lfo_val, float* buf, int count) noexcept {
  TEMBRA_ON_PATH(path, quivex_shake_vec, apply_amount(amount, lfo_val, buf, count));
}

void mix_n(tembra_simd::Path path, float amount, const float* dry, float* ai, int count) noexcept {
  TEMBRA_ON_PATH(path, quivex_shake_vec, mix(amount, dry, ai, count));
}

void filter_time_n(tembra_simd::Path path, const float* alphas, float* prev, float* x, int count) noexcept {
  TEMBRA_ON_PATH(path, quivex_shake_vec, filter_time(alphas, prev, x, count));
}

}  // namespace quivex_shake_vec
#endif

#endif  // QUIVEX_SHAKE_VEC
