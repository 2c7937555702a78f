// SPDX-License-Identifier: LGPL-2.1-or-later
// Mel conversions and mel-spaced grids.
#include <gtest/gtest.h>

#include <tembra/mel.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Distance in units in the last place between two finite floats of one sign.
int64_t ulp_distance(float a, float b) {
  int32_t ia, ib;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  return std::llabs((int64_t)ia - (int64_t)ib);
}

}  // namespace

TEST(Mel, OriginAndThousandMapAsTheFormulaGives) {
  EXPECT_EQ(hz_to_mel(0.0f), 0.0f);
  EXPECT_EQ(mel_to_hz(0.0f), 0.0f);
  // 1000 Hz and 1000 mel do not map exactly onto each other.
  EXPECT_NEAR(hz_to_mel(1000.0f), 999.985f, 1e-3f);
  EXPECT_NEAR(mel_to_hz(1000.0f), 1000.02f, 5e-3f);
  EXPECT_NE(hz_to_mel(1000.0f), 1000.0f);
}

TEST(Mel, ConversionsMatchExtendedPrecisionWithinOneUlp) {
  // Independent evaluation of mel = 2595 log10(1 + hz/700) and its inverse
  // in long double; the float results may differ by the final rounding only.
  for (float hz = 1.0f; hz < 24000.0f; hz *= 1.013f) {
    const long double ref = 2595.0L * std::log10(1.0L + (long double)hz / 700.0L);
    EXPECT_LE(ulp_distance(hz_to_mel(hz), (float)ref), 1) << hz;
  }
  for (float mel = 1.0f; mel < 4000.0f; mel *= 1.011f) {
    const long double ref = 700.0L * (std::pow(10.0L, (long double)mel / 2595.0L) - 1.0L);
    EXPECT_LE(ulp_distance(mel_to_hz(mel), (float)ref), 1) << mel;
  }
}

TEST(Mel, RoundTripReturnsTheFrequency) {
  for (float hz = 10.0f; hz < 22000.0f; hz *= 1.07f)
    EXPECT_NEAR(mel_to_hz(hz_to_mel(hz)), hz, hz * 2e-6f) << hz;
}

TEST(Mel, EffectGridHasKnownValues) {
  std::vector<float> f(112);
  compute_mel_frequencies(112, f.data(), 20.0f, 20000.0f);
  EXPECT_EQ(f[0], 20.0f);
  EXPECT_NEAR(f[1], 42.119f, 1e-3f);
  EXPECT_NEAR(f[55], 3102.60f, 1e-2f);
  EXPECT_NEAR(f[56], 3219.42f, 1e-2f);
  EXPECT_NEAR(f[110], 19383.04f, 1e-2f);
  // The top end passes through mel and back: close to, not at, 20000.
  EXPECT_NEAR(f[111], 19999.998f, 1e-3f);
  EXPECT_NE(f[111], 20000.0f);

  // Equal spacing in mel, growing spacing in Hz.
  const float step = (hz_to_mel(20000.0f) - hz_to_mel(20.0f)) / 111.0f;
  EXPECT_NEAR(step, 34.1006f, 1e-4f);
  for (int i = 1; i < 112; ++i) {
    EXPECT_GT(f[i], f[i - 1]);
    EXPECT_NEAR(hz_to_mel(f[i]) - hz_to_mel(f[i - 1]), step, 2e-3f) << i;
    if (i > 1) {
      EXPECT_GT(f[i] - f[i - 1], f[i - 1] - f[i - 2]) << i;
    }
  }
}

TEST(Mel, NonPositiveCountWritesNothing) {
  for (int n : {0, -1, -112}) {
    float f[4] = {-7.0f, -7.0f, -7.0f, -7.0f};
    compute_mel_frequencies(n, f, 20.0f, 20000.0f);
    for (float v : f) EXPECT_EQ(v, -7.0f) << n;
  }
}

TEST(Mel, GridDescendsWhenMinIsAboveMax) {
  constexpr int n = 24;
  std::vector<float> up(n), down(n);
  compute_mel_frequencies(n, up.data(), 20.0f, 20000.0f);
  compute_mel_frequencies(n, down.data(), 20000.0f, 20.0f);
  EXPECT_NEAR(down[0], 20000.0f, 0.01f);
  EXPECT_NEAR(down[n - 1], 20.0f, 5e-4f);
  for (int i = 1; i < n; ++i) EXPECT_LT(down[i], down[i - 1]) << i;
  // The descending grid is the ascending one read backwards, up to rounding.
  for (int i = 0; i < n; ++i) EXPECT_NEAR(down[i], up[n - 1 - i], up[n - 1 - i] * 1e-5f) << i;
}

TEST(Mel, TwoPointGridHitsBothEnds) {
  float f[2];
  compute_mel_frequencies(2, f, 100.0f, 8000.0f);
  EXPECT_NEAR(f[0], 100.0f, 1e-4f);
  EXPECT_NEAR(f[1], 8000.0f, 1e-2f);
}
