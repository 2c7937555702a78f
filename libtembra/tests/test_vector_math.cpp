// The four-lane sine, cosine and arc tangent agree bit for bit with the
// scalar calls, on a sample of their domain (the long tests cover all of it).
#include <gtest/gtest.h>

#include "vector_math_cases.h"

#if defined(TEMBRA_VECTOR_MATH)

namespace {

constexpr std::uint32_t kBelow120 = 0x42f00000u;  // bit pattern of 120.0f

TEST(VectorMath, SinCosMatchScalarOnSampledFloatsBelow120) {
  // A prime stride visits every binade and many mantissa patterns.
  const vm_cases::Count c = vm_cases::sincos_range(0, kBelow120, 1009);
  EXPECT_GT(c.cases, 2000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST(VectorMath, SinCosMatchScalarOnEvenlySpacedAngles) {
  // Evenly spaced in value, so the larger angles, where every polynomial
  // term counts, get their share.
  for (float limit : {3.14159274f, 119.99999f}) {
    const vm_cases::Count c = vm_cases::sincos_spaced(limit, 1 << 21);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
  }
}

TEST(VectorMath, SinCosMatchScalarOutsideTheVectorDomain) {
  // From 120 up to the infinities and NaNs: the scalar fallback.
  const vm_cases::Count c = vm_cases::sincos_range(kBelow120, 0x7fc00001u, 100003);
  EXPECT_GT(c.cases, 10000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
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

}  // namespace

#endif
