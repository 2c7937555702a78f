// SPDX-License-Identifier: LGPL-2.1-or-later
// Proof of the four-lane LFO cosines and sigmoid powers: every float phase
// of one turn [0, 2 pi] and 10^8 random sigmoid arguments, bit for bit
// against the scalar calls under flush-to-zero and denormals-are-zero.
#include <gtest/gtest.h>

#include <cstdio>

#include "../lfo_vec_cases.h"

#if defined(QUIVEX_LFO_VEC)

namespace {

TEST(LfoVecProof, CosinesMatchScalarForEveryPhaseOfOneTurn)
{
    const lfo_cases::Count c = lfo_cases::cos_range(0.0f, quivex_lfo_vec::PHASE_MAX, 1);
    std::printf("LFO cosine: %llu phases, %llu mismatches\n", static_cast<unsigned long long>(c.cases),
                static_cast<unsigned long long>(c.mismatches));
    EXPECT_EQ(c.cases, static_cast<std::uint64_t>(lfo_cases::to_bits(quivex_lfo_vec::PHASE_MAX)) + 1);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST(LfoVecProof, SigmoidMatchesScalarOnHundredMillionRandomArguments)
{
    const lfo_cases::Count c = lfo_cases::sigmoid_random(100000000u, 20240611u);
    std::printf("sigmoid: %llu random arguments, %llu mismatches\n", static_cast<unsigned long long>(c.cases),
                static_cast<unsigned long long>(c.mismatches));
    EXPECT_EQ(c.mismatches, 0u) << "first at t = " << c.first_bad;
}

TEST(LfoVecProof, SigmoidWithExponentOneMatchesScalarForEveryFloatArgument)
{
    const lfo_cases::Count c = lfo_cases::sigmoid_identity_range(1);
    std::printf("sigmoid, exponent 1: %llu arguments, %llu mismatches\n",
                static_cast<unsigned long long>(c.cases), static_cast<unsigned long long>(c.mismatches));
    EXPECT_GT(c.cases, 3000000000u);
    EXPECT_EQ(c.mismatches, 0u) << "first at t = " << c.first_bad;
}

}  // namespace

#endif
