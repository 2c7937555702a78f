// SPDX-License-Identifier: LGPL-2.1-or-later
// The gather-free exp and log give the C library's 4-lane results bit for
// bit on a sample of the arguments the engines hand them, and on its
// boundaries and special values (the long tests cover every float of the
// engines' ranges).
#include <gtest/gtest.h>

#include "simd_paths.h"
#include "vector_exp_log_cases.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

namespace {

class VectorExpLog : public testing::TestWithParam<tembra_simd::Path> {
 protected:
  void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

TEST_P(VectorExpLog, LogMatchesLibraryOnSampledCoefficientArguments) {
  const el_cases::Count c = el_cases::coefficient_logs(GetParam(), 1009);
  EXPECT_GT(c.cases, 4000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(VectorExpLog, ExpMatchesLibraryOnSampledCoefficientArguments) {
  for (int rate : {22050, 48000, 192000}) {
    const el_cases::Count c = el_cases::coefficient_exps(GetParam(), rate, 1009);
    EXPECT_GT(c.cases, 1000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST_P(VectorExpLog, ExpMatchesLibraryOnSampledSmoothingTimes) {
  for (int rate : {44100, 96000}) {
    const el_cases::Count c = el_cases::time_filter_exps(GetParam(), rate, 211);
    EXPECT_GT(c.cases, 1000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST_P(VectorExpLog, BothMatchLibraryOnBoundariesSpecialValuesAndRandomPatterns) {
  for (el_cases::Fn fn : {el_cases::Fn::kExp, el_cases::Fn::kLog}) {
    const el_cases::Count c = el_cases::boundaries(fn, GetParam(), 1u << 20);
    EXPECT_GT(c.cases, 2000000u);
    EXPECT_EQ(c.mismatches, 0u) << (fn == el_cases::Fn::kExp ? "exp" : "log") << ", first at "
                                << c.first_bad;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorExpLog, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
