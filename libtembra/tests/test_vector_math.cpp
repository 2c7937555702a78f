// SPDX-License-Identifier: LGPL-2.1-or-later
// The vector sine, cosine and arc tangent agree bit for bit with the
// scalar calls, on every vector path, on a sample of their domain (the long tests cover all of it).
#include <gtest/gtest.h>

#include "simd_paths.h"
#include "vector_math_cases.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

namespace {

constexpr std::uint32_t kBelow120 = 0x42f00000u;  // bit pattern of 120.0f

class SinCos : public testing::TestWithParam<tembra_simd::Path> {
 protected:
  void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

TEST_P(SinCos, MatchScalarOnSampledFloatsBelow120) {
  // A prime stride visits every binade and many mantissa patterns.
  const vm_cases::Count c = vm_cases::sincos_range(GetParam(), 0, kBelow120, 1009);
  EXPECT_GT(c.cases, 2000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(SinCos, MatchScalarOnEvenlySpacedAngles) {
  // Evenly spaced in value, so the larger angles, where every polynomial
  // term counts, get their share.
  for (float limit : {3.14159274f, 119.99999f}) {
    const vm_cases::Count c = vm_cases::sincos_spaced(GetParam(), limit, 1 << 21);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
  }
}

TEST_P(SinCos, MatchScalarOutsideTheVectorDomain) {
  // From 120 up to the infinities and NaNs: the scalar fallback.
  const vm_cases::Count c = vm_cases::sincos_range(GetParam(), kBelow120, 0x7fc00001u, 100003);
  EXPECT_GT(c.cases, 10000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(SinCos, LibraryFormMatchesFourLaneCallsOnSampledFloats) {
  // All 2^32 patterns with a prime stride: both signs, subnormals, the
  // phase range, the scalar fallback above 10000, infinities and NaNs.
  const vm_cases::Count c = vm_cases::lib_sincos_range(GetParam(), 0, 1ull << 32, 4099);
  EXPECT_GT(c.cases, 1000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(SinCos, LibraryFormMatchesFourLaneCallsOnEveryPhase) {
  // Every float of magnitude 0.25 and above in the range of phases the
  // resynthesis is handed, -pi to 3 pi (the long test covers all floats).
  const vm_cases::Count pos = vm_cases::lib_sincos_range(GetParam(), vm_cases::to_bits(0.25f), vm_cases::to_bits(9.5f), 1);
  const vm_cases::Count neg =
      vm_cases::lib_sincos_range(GetParam(), vm_cases::to_bits(-0.25f), vm_cases::to_bits(-3.2f) + 1ull, 1);
  EXPECT_GT(pos.cases + neg.cases, 70000000u);
  EXPECT_EQ(pos.mismatches, 0u) << "first at " << pos.first_bad;
  EXPECT_EQ(neg.mismatches, 0u) << "first at " << neg.first_bad;
}

TEST(VectorMath, Atan2KernelStaysWellInsideTheRoundingTestsBound) {
  // The rounding test trusts the kernel to a relative 2^-40; its error is
  // below 2^-44, also where it changes branch and at the zeros.
  const double worst = vm_cases::atan2_kernel_error(1u << 20, 5);
  EXPECT_LT(worst, 0x1p-44) << "log2 of the worst error: " << std::log2(worst);
}

TEST(VectorMath, Atan2MatchesScalarOnRandomPairs) {
  const vm_cases::Count c = vm_cases::atan2_random(1u << 20, 1);
  EXPECT_EQ(c.mismatches, 0u) << "first at y = " << c.first_bad;
}

TEST(VectorMath, Atan2MatchesScalarOnZerosInfinitiesAndBoundaries) {
  const vm_cases::Count c = vm_cases::atan2_adversarial();
  EXPECT_GT(c.cases, 3000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at y = " << c.first_bad;
}

INSTANTIATE_TEST_SUITE_P(Paths, SinCos, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
