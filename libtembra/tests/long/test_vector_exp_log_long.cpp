// SPDX-License-Identifier: LGPL-2.1-or-later
// Proof of the gather-free exp and log against the C library's 4-lane
// routines, bit for bit, in the default mode and under FTZ/DAZ: the
// logarithm of the resynthesis coefficients for every float frequency of
// either sign below 2^21 Hz, their exponential for every float frequency
// from 1e-15 Hz to 2^21 Hz at two sample rates (every 16th float at six
// more), and the time filter's exponential for every float smoothing time
// from 0.1 ms to 10 s at every sample rate the time stages prove.
#include <gtest/gtest.h>

#include <cstdio>

#include "../simd_paths.h"
#include "../vector_exp_log_cases.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

namespace {

class VectorExpLogProof : public testing::TestWithParam<tembra_simd::Path> {
 protected:
  void SetUp() override { SKIP_UNLESS_PATH(GetParam()); }
};

void report(tembra_simd::Path path, const char* what, const el_cases::Count& c) {
  std::printf("%s, %s: %llu arguments, %llu mismatches\n", tembra_simd::path_name(path), what,
              static_cast<unsigned long long>(c.cases), static_cast<unsigned long long>(c.mismatches));
}

TEST_P(VectorExpLogProof, LogMatchesLibraryForEveryCoefficientFrequency) {
  const el_cases::Count c = el_cases::coefficient_logs(GetParam(), 1);
  report(GetParam(), "log(1 + f)", c);
  EXPECT_GT(c.cases, 4000000000u);
  EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
}

TEST_P(VectorExpLogProof, ExpMatchesLibraryForEveryCoefficientFrequency) {
  for (int rate : {22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000}) {
    const bool every = rate == 44100 || rate == 48000;
    const el_cases::Count c = el_cases::coefficient_exps(GetParam(), rate, every ? 1 : 16);
    std::printf("%d Hz, ", rate);
    report(GetParam(), "coefficient exp", c);
    EXPECT_GT(c.cases, every ? 1000000000u : 60000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST_P(VectorExpLogProof, ExpMatchesLibraryForEverySmoothingTime) {
  for (int rate : {22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000}) {
    const el_cases::Count c = el_cases::time_filter_exps(GetParam(), rate, 1);
    std::printf("%d Hz, ", rate);
    report(GetParam(), "time filter exp", c);
    EXPECT_GT(c.cases, 200000000u);
    EXPECT_EQ(c.mismatches, 0u) << rate << " Hz, first at " << c.first_bad;
  }
}

TEST_P(VectorExpLogProof, BothMatchLibraryOnHundredMillionRandomPatterns) {
  for (el_cases::Fn fn : {el_cases::Fn::kExp, el_cases::Fn::kLog}) {
    const el_cases::Count c = el_cases::boundaries(fn, GetParam(), 50000000u);
    report(GetParam(), fn == el_cases::Fn::kExp ? "exp, random patterns" : "log, random patterns", c);
    EXPECT_EQ(c.mismatches, 0u) << "first at " << c.first_bad;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorExpLogProof, simd_paths::kSimdPaths, simd_paths::name);

}  // namespace

#endif
