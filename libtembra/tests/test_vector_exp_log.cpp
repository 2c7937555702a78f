// SPDX-License-Identifier: LGPL-2.1-or-later
// The gather-free exp and log give the C library's 4-lane results bit for
// bit on a sample of the arguments the engines hand them, and on its
// boundaries and special values (the long tests cover every float of the
// engines' ranges).
#include <gtest/gtest.h>

#include "vector_exp_log_cases.h"

#if defined(TEMBRA_VECTOR_EXP_LOG)

namespace {

TEST(VectorExpLog, LogMatchesLibraryOnSampledCoefficientArguments) {
  const el_cases::Count c = el_cases::coefficient_logs(1009);
  EXPECT_GT(c.cases, 4000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST(VectorExpLog, ExpMatchesLibraryOnSampledCoefficientArguments) {
  for (int rate : {22050, 48000, 192000}) {
    const el_cases::Count c = el_cases::coefficient_exps(rate, 1009);
    EXPECT_GT(c.cases, 1000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST(VectorExpLog, ExpMatchesLibraryOnSampledSmoothingTimes) {
  for (int rate : {44100, 96000}) {
    const el_cases::Count c = el_cases::time_filter_exps(rate, 211);
    EXPECT_GT(c.cases, 1000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST(VectorExpLog, BothMatchLibraryOnBoundariesSpecialValuesAndRandomPatterns) {
  for (el_cases::Fn fn : {el_cases::Fn::kExp, el_cases::Fn::kLog}) {
    const el_cases::Count c = el_cases::boundaries(fn, 1u << 20);
    EXPECT_GT(c.cases, 2000000u);
    EXPECT_EQ(c.mismatches, 0u) << (fn == el_cases::Fn::kExp ? "exp" : "log") << ", first at "
                                << c.first_bad;
  }
}

}  // namespace

#endif
