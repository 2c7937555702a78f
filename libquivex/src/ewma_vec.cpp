// SPDX-License-Identifier: LGPL-2.1-or-later
// ewma_ms_to_alpha over whole vectors, compiled once per vector path
// (Highway's foreach_target); see ewma_vec.h for why every lane equals the
// scalar function.
#include "ewma_vec.h"

#if defined(QUIVEX_EWMA_VEC)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ewma_vec.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

#include "vector_exp_log.h"
#include "vector_loops.h"

HWY_BEFORE_NAMESPACE();
namespace quivex_ewma_vec {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// The coefficients of count (a multiple of 4, at most kChunk vectors of d)
// times at ms: every quotient first, then the exponentials, so that the
// divisions and evaluations of a chunk overlap (on AVX2 the shake stages
// take 15 % less time than with one vector after the other).
constexpr int kChunk = 16;

template <class D>
HWY_INLINE void alphas_chunk(D d, int srate, const float* ms, float* out, int count)
{
    const hn::Rebind<float, D> df;
    const int lanes = static_cast<int>(hn::Lanes(d));
    alignas(64) double arg[kChunk * hn::MaxLanes(d)];
    for (int i = 0; i < count; i += lanes) {
        const auto t = hn::PromoteTo(d, hn::LoadU(df, ms + i));
        hn::Store(hn::Div(hn::Set(d, -6.283185307179586),
                          hn::Mul(hn::Mul(t, hn::Set(d, 0.001)), hn::Set(d, static_cast<double>(srate)))),
                  d, arg + i);
    }
    for (int i = 0; i < count; i += lanes) {
        const auto m = hn::LoadU(df, ms + i);
        const auto r = tembra_vmath::HWY_NAMESPACE::exp_lib(d, hn::Load(d, arg + i));
        // The float is decided unless r lies within a relative 2^-40 of a
        // float rounding boundary (NaN lanes count as undecided), or the
        // time lies outside the proven domain.
        const auto lo = hn::DemoteTo(df, hn::Mul(r, hn::Set(d, 1.0 - 0x1p-40)));
        const auto hi = hn::DemoteTo(df, hn::Mul(r, hn::Set(d, 1.0 + 0x1p-40)));
        const auto in_domain =
            hn::And(hn::Ge(m, hn::Set(df, EWMA_VEC_MIN_MS)), hn::Le(m, hn::Set(df, EWMA_VEC_MAX_MS)));
        const auto redo = hn::Or(hn::Not(hn::Eq(lo, hi)), hn::Not(in_domain));
        hn::StoreU(hn::DemoteTo(df, r), df, out + i);
        if (!hn::AllFalse(df, redo)) {
            alignas(64) float times[hn::MaxLanes(df)];
            hn::Store(m, df, times);
            tembra_vmath::HWY_NAMESPACE::for_set_lanes(df, redo, [&](std::size_t j) {
                out[i + static_cast<int>(j)] = ewma_ms_to_alpha(srate, times[j]);
            });
        }
    }
}

void ms_to_alpha_n(int srate, const float* ms, float* out, int count)
{
    tembra_vmath::HWY_NAMESPACE::for_chunks<kChunk>(hn::ScalableTag<double>(), count, [&](auto d, int i, int n) {
        alphas_chunk(d, srate, ms + i, out + i, n);
    });
}

void time_alphas(int srate, const float* t, float lfo_val, double min_ms, double span_ms, float* out, int count)
{
    tembra_vmath::HWY_NAMESPACE::for_chunks<kChunk>(hn::ScalableTag<double>(), count, [&](auto d, int i, int n) {
        // The chunk's times, then their coefficients.
        const hn::Rebind<float, decltype(d)> df;
        alignas(64) float ms[kChunk * hn::MaxLanes(df)];
        for (int k = 0; k < n; k += static_cast<int>(hn::Lanes(df))) {
            const auto scaled = hn::PromoteTo(d, hn::Mul(hn::LoadU(df, t + i + k), hn::Set(df, lfo_val)));
            hn::Store(hn::DemoteTo(df, hn::Add(hn::Mul(scaled, hn::Set(d, span_ms)), hn::Set(d, min_ms))), df, ms + k);
        }
        alphas_chunk(d, srate, ms, out + i, n);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace quivex_ewma_vec
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace quivex_ewma_vec {
void ms_to_alpha_n(tembra_simd::Path path, int srate, const float* ms, float* out, int count) noexcept
{
    TEMBRA_ON_PATH(path, quivex_ewma_vec, ms_to_alpha_n(srate, ms, out, count));
}

void time_alphas_n(tembra_simd::Path path, int srate, const float* t, float lfo_val, double min_ms, double span_ms,
                   float* out, int count) noexcept
{
    TEMBRA_ON_PATH(path, quivex_ewma_vec, time_alphas(srate, t, lfo_val, min_ms, span_ms, out, count));
}
}  // namespace quivex_ewma_vec
#endif

#endif  // QUIVEX_EWMA_VEC
