// SPDX-License-Identifier: LGPL-2.1-or-later
// Decibel helpers: amplitude decibels and the [min_db, 0] -> [0, 1] mapping.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "decibel.h"

namespace {

TEST(DbToAmp, HitsUnityDecadeAndHalfAmplitudePoints)
{
  EXPECT_EQ(db_to_amp(0.0f), 1.0f);
  EXPECT_EQ(db_to_amp(20.0f), 10.0f);
  EXPECT_EQ(db_to_amp(-20.0f), 0.1f);
  // 10^(-6/20) = 0.50118723..., within one float step.
  EXPECT_NEAR(db_to_amp(-6.0f), 0.5011872f, 6e-8);
  EXPECT_EQ(db_to_amp(-std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(AmpToDb, HitsUnityDecadeAndHalfAmplitudePoints)
{
  EXPECT_EQ(amp_to_db(1.0f), 0.0f);
  EXPECT_EQ(amp_to_db(10.0f), 20.0f);
  EXPECT_NEAR(amp_to_db(0.5f), -6.0206f, 1e-4);
  EXPECT_EQ(amp_to_db(0.0f), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(amp_to_db(-1.0f)));
}

TEST(AmpToDb, InvertsDbToAmpAcrossTheUsualRange)
{
  for (float db = -120.0f; db <= 24.0f; db += 0.75f) {
    EXPECT_NEAR(amp_to_db(db_to_amp(db)), db, 1e-4f) << db;
  }
}

// The buffer forms apply the scalar function to each element, and do
// nothing for a size of 0 or less.
TEST(DecibelBuffers, MatchTheScalarFunctionsElementwise)
{
  const std::vector<float> values = {0.0f, 1e-6f, 0.5f, 1.0f, 3.0f, 10.0f, 1000.0f};
  std::vector<float> amp = values;
  amp_to_db_buf(amp.data(), static_cast<int>(amp.size()));
  std::vector<float> db = {-90.0f, -6.0f, -0.1f, 0.0f, 0.1f, 6.0f, 20.0f};
  std::vector<float> back = db;
  db_to_amp_buf(back.data(), static_cast<int>(back.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(amp[i], amp_to_db(values[i])) << i;
    EXPECT_EQ(back[i], db_to_amp(db[i])) << i;
  }
  std::vector<float> untouched = {0.5f, -3.0f};
  amp_to_db_buf(untouched.data(), 0);
  db_to_amp_buf(untouched.data(), -2);
  normalize_db_buf(untouched.data(), -1, -60.0f);
  EXPECT_EQ(untouched, (std::vector<float>{0.5f, -3.0f}));
}

TEST(NormalizeDb, MapsTheRangeOntoZeroToOneAndClamps)
{
  EXPECT_EQ(normalize_db(-30.0f, -60.0f), 0.5f);
  EXPECT_EQ(normalize_db(-35.0f, -70.0f), 0.5f);
  EXPECT_EQ(normalize_db(-60.0f, -60.0f), 0.0f);
  EXPECT_EQ(normalize_db(0.0f, -60.0f), 1.0f);
  EXPECT_EQ(normalize_db(-90.0f, -60.0f), 0.0f);
  EXPECT_EQ(normalize_db(6.0f, -60.0f), 1.0f);
  EXPECT_EQ(normalize_db(-std::numeric_limits<float>::infinity(), -60.0f), 0.0f);
  EXPECT_TRUE(std::isnan(normalize_db(std::nanf(""), -60.0f)));
}

// The buffer form multiplies by the rounded reciprocal of min_db, the
// scalar form divides: -57 dB of a -60 dB range lands one float apart.
TEST(NormalizeDb, BufferFormDiffersInTheLastBitWhereTheReciprocalRounds)
{
  const float scalar = normalize_db(-57.0f, -60.0f);
  float buf[1] = {-57.0f};
  normalize_db_buf(buf, 1, -60.0f);
  EXPECT_EQ(scalar, 0.050000001f);
  EXPECT_EQ(buf[0], 0.050000004f);
  EXPECT_EQ(std::nextafter(scalar, 1.0f), buf[0]);
}

TEST(NormalizeDb, BufferFormClampsAndPassesNan)
{
  float buf[] = {-90.0f, -60.0f, -30.0f, 0.0f, 6.0f, std::nanf("")};
  normalize_db_buf(buf, 6, -60.0f);
  EXPECT_EQ(buf[0], 0.0f);
  EXPECT_EQ(buf[1], 0.0f);
  EXPECT_EQ(buf[2], 0.5f);
  EXPECT_EQ(buf[3], 1.0f);
  EXPECT_EQ(buf[4], 1.0f);
  EXPECT_TRUE(std::isnan(buf[5]));
}

TEST(NormalizeDbInv, MapsBackWithoutClamping)
{
  EXPECT_EQ(normalize_db_inv(0.5f, -60.0f), -30.0f);
  EXPECT_EQ(normalize_db_inv(0.0f, -60.0f), -60.0f);
  EXPECT_EQ(normalize_db_inv(1.0f, -60.0f), 0.0f);
  EXPECT_EQ(normalize_db_inv(1.5f, -60.0f), 30.0f);
  EXPECT_EQ(normalize_db_inv(-0.5f, -60.0f), -90.0f);
  for (float db = -60.0f; db <= 0.0f; db += 1.5f) {
    EXPECT_NEAR(normalize_db_inv(normalize_db(db, -60.0f), -60.0f), db, 1e-5f) << db;
  }
}

}  // namespace
