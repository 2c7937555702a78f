// SPDX-License-Identifier: LGPL-2.1-or-later
// exp, log, sine and cosine over arrays on a chosen vector path, for the
// tests that prove each path against the C library's routines.
#include "vector_arrays.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_arrays.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <type_traits>

#include <hwy/highway.h>

#include "vector_exp_log.h"
#include "vector_loops.h"
#include "vector_sincosf.h"
#include "vector_sincosf_lib.h"

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

template <bool kExp, class D>
HWY_INLINE void apply_at(D d, const double* x, double* y, int i) {
  const auto v = hn::LoadU(d, x + i);
  hn::StoreU(kExp ? exp_lib(d, v) : log_lib(d, v), d, y + i);
}

template <bool kExp>
void apply_n(const double* x, double* y, int count) {
  for_groups(hn::ScalableTag<double>(), count, [&](auto d, int i) { apply_at<kExp>(d, x, y, i); });
}

void exp_n(const double* x, double* y, int count) { apply_n<true>(x, y, count); }
void log_n(const double* x, double* y, int count) { apply_n<false>(x, y, count); }

template <bool kLib, class DF>
HWY_INLINE void sincosf_at(DF df, const float* x, float* s, float* c, int i) {
  hn::Vec<DF> vs, vc;
  if constexpr (kLib)
    sincosf_lib_lanes(df, hn::LoadU(df, x + i), vs, vc);
  else
    sincosf_lanes(df, hn::LoadU(df, x + i), vs, vc);
  hn::StoreU(vs, df, s + i);
  hn::StoreU(vc, df, c + i);
}

// The scalar-exact kernel works on as many floats as a vector of doubles
// holds, the library one on a full vector of floats.
template <bool kLib>
void sincos_n(const float* x, float* s, float* c, int count) {
  using Wide = hn::ScalableTag<float>;
  using Narrow = hn::Rebind<float, hn::ScalableTag<double>>;
  for_groups(std::conditional_t<kLib, Wide, Narrow>(), count,
             [&](auto df, int i) { sincosf_at<kLib>(df, x, s, c, i); });
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tembra_vmath {
void exp_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_vmath, exp_n(x, y, count));
}
void log_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_vmath, log_n(x, y, count));
}
void sincosf_n(tembra_simd::Path path, const float* x, float* s, float* c, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_vmath, sincos_n<false>(x, s, c, count));
}
void sincosf_lib_n(tembra_simd::Path path, const float* x, float* s, float* c, int count) noexcept {
  TEMBRA_ON_PATH(path, tembra_vmath, sincos_n<true>(x, s, c, count));
}
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_ARRAYS
