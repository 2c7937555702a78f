// SPDX-License-Identifier: LGPL-2.1-or-later
// The four-lane LFO cosines and sigmoid powers agree bit for bit with the
// scalar calls, on a sample of their domains (the long test covers the
// phases exhaustively) and on the edge cases that take the scalar path.
#include <gtest/gtest.h>

#include "lfo_vec_cases.h"

#if defined(QUIVEX_LFO_VEC)

namespace {

TEST(LfoVec, CosinesMatchScalarOnSampledPhases)
{
    const lfo_cases::Count c = lfo_cases::cos_range(0.0f, quivex_lfo_vec::PHASE_MAX, 1009);
    EXPECT_GT(c.cases, 1000000u);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST(LfoVec, CosinesOutsideOneTurnTakeTheScalarPath)
{
    const lfo_cases::Count c = lfo_cases::cos_range(6.2831860f, 1e30f, 10007);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
    const lfo_cases::Count n = lfo_cases::cos_range(-1e-30f, -1e30f, 10007);  // bit patterns grow with |x|
    EXPECT_GT(n.cases, 10000u);
    EXPECT_EQ(n.mismatches, 0u) << "first at " << n.first_bad;
}

TEST(LfoVec, SigmoidMatchesScalarOnRandomArguments)
{
    const lfo_cases::Count c = lfo_cases::sigmoid_random(1u << 20, 3);
    EXPECT_EQ(c.mismatches, 0u) << "first at t = " << c.first_bad;
}

TEST(LfoVec, SigmoidWithExponentOneMatchesScalarWithoutThePower)
{
    const lfo_cases::Count c = lfo_cases::sigmoid_identity_range(997);
    EXPECT_GT(c.cases, 3000000u);
    EXPECT_EQ(c.mismatches, 0u) << "first at t = " << c.first_bad;
}

TEST(LfoVec, SigmoidMatchesScalarAtTheEndsAndSpecialExponents)
{
    const lfo_cases::Count c = lfo_cases::sigmoid_adversarial();
    EXPECT_GT(c.cases, 150u);
    EXPECT_EQ(c.mismatches, 0u) << "first at t = " << c.first_bad;
}

}  // namespace

#endif
