// SPDX-License-Identifier: LGPL-2.1-or-later
// Proof of the four-lane sine, cosine and arc tangent: every float with
// |x| < 120 (the whole vector domain of the sine and cosine, about 2.2e9
// arguments), and 10^8 random pairs for the two-argument arc tangent, bit
// for bit against the scalar calls, under flush-to-zero and
// denormals-are-zero.
#include <gtest/gtest.h>

#include <cstdio>

#include "../simd_paths.h"
#include "../vector_math_cases.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

namespace {

class SinCosProof : public testing::TestWithParam<tembra_simd::Path> {
 protected:
  void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

TEST_P(SinCosProof, MatchScalarForEveryFloatBelow120) {
  const vm_cases::Count c = vm_cases::sincos_range(GetParam(), 0, 0x42f00000u, 1);
  std::printf("%s sine and cosine: %llu arguments, %llu mismatches\n",
              tembra_simd::path_name(GetParam()), static_cast<unsigned long long>(c.cases),
              static_cast<unsigned long long>(c.mismatches));
  EXPECT_EQ(c.cases, 2u * 0x42f00000ull);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(SinCosProof, LibraryFormMatchesFourLaneCallsForEveryFloat) {
  const vm_cases::Count c = vm_cases::lib_sincos_range(GetParam(), 0, 1ull << 32, 1);
  std::printf("%s library-form sine and cosine: %llu arguments, %llu mismatches\n",
              tembra_simd::path_name(GetParam()), static_cast<unsigned long long>(c.cases),
              static_cast<unsigned long long>(c.mismatches));
  EXPECT_EQ(c.cases, 1ull << 32);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST(VectorMathProof, Atan2KernelErrorBelowTwoToMinus44OnHundredMillionPairs) {
  const double worst = vm_cases::atan2_kernel_error(100000000u, 20241208u);
  std::printf("atan2 kernel: worst relative error 2^%.2f\n", std::log2(worst));
  EXPECT_LT(worst, 0x1p-44);
}

TEST(VectorMathProof, Atan2MatchesScalarOnHundredMillionRandomPairs) {
  const vm_cases::Count c = vm_cases::atan2_random(100000000u, 20240611u);
  std::printf("atan2: %llu random pairs, %llu mismatches\n", static_cast<unsigned long long>(c.cases),
              static_cast<unsigned long long>(c.mismatches));
  EXPECT_EQ(c.mismatches, 0u) << "first at y = " << c.first_bad;
}

INSTANTIATE_TEST_SUITE_P(Paths, SinCosProof, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
