// SPDX-License-Identifier: LGPL-2.1-or-later
// The vector smoothing coefficients, on every vector path, agree bit for bit with
// ewma_ms_to_alpha, on a sample of the domain (the long test covers all of
// it) and on the times outside it, which take the scalar path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ewma_vec_cases.h"
#include "simd_paths.h"

#if defined(QUIVEX_EWMA_VEC)

namespace {

using quivex_ewma_vec::EWMA_VEC_MAX_MS;
using quivex_ewma_vec::EWMA_VEC_MIN_MS;

class EwmaVec : public testing::TestWithParam<tembra_simd::Path> {
protected:
    void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

TEST_P(EwmaVec, MatchesScalarOnSampledTimesAtEveryProvenRate)
{
    for (int srate : quivex_ewma_vec::PROVEN_RATES) {
        const ewma_cases::Count c = ewma_cases::range(GetParam(), srate, EWMA_VEC_MIN_MS, EWMA_VEC_MAX_MS, 997);
        EXPECT_GT(c.cases, 250000u);
        EXPECT_EQ(c.mismatches, 0u) << srate << " Hz, first at " << c.first_bad << " ms";
    }
}

TEST_P(EwmaVec, TimesOutsideTheDomainTakeTheScalarPath)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float odd[] = {0.0f, -0.0f, -1.0f, 1e-16f, 1e-15f, 1e-4f, 0x1p25f, 3.4e38f, inf, -inf, nan, 1e-40f};
    for (int srate : {48000, 44100}) {
        for (float ms : odd) {
            ewma_cases::FlushDenormals mode;
            float in[4] = {ms, ms, ms, ms};
            float got[4];
            quivex_ewma_vec::ms_to_alpha_n(GetParam(), srate, in, got, 4);
            const float want = ewma_ms_to_alpha(srate, ms);
            EXPECT_EQ(ewma_cases::to_bits(got[3]), ewma_cases::to_bits(want)) << ms << " ms at " << srate << " Hz";
        }
    }
    // Rates the long test does not cover keep the scalar function.
    EXPECT_TRUE(quivex_ewma_vec::rate_proven(48000));
    EXPECT_FALSE(quivex_ewma_vec::rate_proven(12345));
}

INSTANTIATE_TEST_SUITE_P(Paths, EwmaVec, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
