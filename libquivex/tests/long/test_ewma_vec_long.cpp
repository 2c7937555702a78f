// SPDX-License-Identifier: LGPL-2.1-or-later
// Proof of the four-lane smoothing coefficients: every float time in the
// vector domain, at every sample rate the engine takes the vector path for,
// bit for bit against ewma_ms_to_alpha under flush-to-zero and
// denormals-are-zero.
#include <gtest/gtest.h>

#include <cstdio>

#include "../ewma_vec_cases.h"
#include "simd_paths.h"

#if defined(QUIVEX_EWMA_VEC)

namespace {

class EwmaVecProof : public testing::TestWithParam<tembra_simd::Path> {
protected:
    void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

TEST_P(EwmaVecProof, MatchesScalarForEveryTimeOfTheDomainAtEveryProvenRate)
{
    using quivex_ewma_vec::EWMA_VEC_MAX_MS;
    using quivex_ewma_vec::EWMA_VEC_MIN_MS;
    const std::uint64_t per_rate = ewma_cases::to_bits(EWMA_VEC_MAX_MS) - ewma_cases::to_bits(EWMA_VEC_MIN_MS) + 1;
    for (int srate : quivex_ewma_vec::PROVEN_RATES) {
        const ewma_cases::Count c = ewma_cases::range(GetParam(), srate, EWMA_VEC_MIN_MS, EWMA_VEC_MAX_MS, 1);
        std::printf("%s, %6d Hz: %llu times, %llu mismatches\n", tembra_simd::path_name(GetParam()), srate, static_cast<unsigned long long>(c.cases),
                    static_cast<unsigned long long>(c.mismatches));
        EXPECT_EQ(c.cases, per_rate);
        EXPECT_EQ(c.mismatches, 0u) << srate << " Hz, first at " << c.first_bad << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, EwmaVecProof, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
