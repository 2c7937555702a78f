// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>
#include <quivex/ewma.h>

#include <cmath>
#include <numbers>
#include <limits>

namespace {

TEST(EwmaMsToAlpha, MatchesReferenceCoefficients)
{
    EXPECT_EQ(ewma_ms_to_alpha(48000, 0.1f), 0.27009085f);
    EXPECT_EQ(ewma_ms_to_alpha(44100, 0.1f), 0.24056654f);
    EXPECT_EQ(ewma_ms_to_alpha(48000, 1000.0f), 0.9998691f);
}

TEST(EwmaMsToAlpha, UsesPeriodOfCornerNotTimeConstant)
{
    // 1 ms at 48 kHz is 48 samples: exp(-2 pi / 48), not exp(-1 / 48).
    EXPECT_NEAR(ewma_ms_to_alpha(48000, 1.0f), std::exp(-2.0 * std::numbers::pi / 48.0), 1e-7);
}

TEST(EwmaMsToAlpha, ZeroAndNegativeTimesGiveExactlyZero)
{
    for (float ms : {0.0f, -0.0f, 1e-16f, -1e-16f, -0.1f, -1000.0f,
                     -std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(ewma_ms_to_alpha(48000, ms), 0.0f) << "ms=" << ms;
        EXPECT_FALSE(std::signbit(ewma_ms_to_alpha(48000, ms))) << "ms=" << ms;
    }
}

TEST(EwmaMsToAlpha, NaNTimeGivesNaN)
{
    EXPECT_TRUE(std::isnan(ewma_ms_to_alpha(48000, std::numeric_limits<float>::quiet_NaN())));
}

TEST(EwmaMsToAlpha, IncreasesWithTimeAndStaysBelowOne)
{
    float prev = 0.0f;
    for (float ms = 0.01f; ms < 500.0f; ms *= 1.5f) {
        const float a = ewma_ms_to_alpha(44100, ms);
        EXPECT_GT(a, prev) << "ms=" << ms;
        EXPECT_LT(a, 1.0f) << "ms=" << ms;
        prev = a;
    }
}

TEST(EwmaAlphaToMs, MatchesReferenceAndSpecialValues)
{
    EXPECT_EQ(ewma_alpha_to_ms(48000, 0.5f), 0.18884835f);
    EXPECT_EQ(ewma_alpha_to_ms(48000, 1.0f), 3600000.0f);
    EXPECT_EQ(ewma_alpha_to_ms(44100, 1.0f), 3600000.0f);
    EXPECT_EQ(ewma_alpha_to_ms(48000, 0.0f), 0.0f);
    EXPECT_EQ(ewma_alpha_to_ms(48000, -0.5f), 0.0f);
    EXPECT_EQ(ewma_alpha_to_ms(48000, 1e-16f), 0.0f);
}

TEST(EwmaAlphaToMs, JustBelowOneIsFiniteAndLong)
{
    const float a = std::nextafter(1.0f, 0.0f);
    const float ms = ewma_alpha_to_ms(48000, a);
    EXPECT_TRUE(std::isfinite(ms));
    EXPECT_GT(ms, 1000.0f);
    EXPECT_NE(ms, 3600000.0f);
}

TEST(EwmaAlphaToMs, AlphaAboveOneGivesNegativeTime)
{
    EXPECT_LT(ewma_alpha_to_ms(48000, 1.5f), 0.0f);
    EXPECT_LT(ewma_alpha_to_ms(48000, std::nextafter(1.0f, 2.0f)), 0.0f);
}

TEST(Ewma, RoundTripMsToAlphaToMsWithinFloatResolution)
{
    for (int srate : {22050, 44100, 48000, 96000}) {
        for (float ms = 0.02f; ms < 2000.0f; ms *= 1.13f) {
            const float alpha = ewma_ms_to_alpha(srate, ms);
            const float back = ewma_alpha_to_ms(srate, alpha);
            // ms = -c / ln(alpha): a relative error e in alpha becomes
            // e / |ln alpha| in ms. alpha is rounded to float once (half an
            // ulp) and the time is rounded to float once more.
            const double ulp = std::nextafter(alpha, 2.0f) - alpha;
            const double rel = 0.5 * ulp / alpha / std::fabs(std::log(double(alpha))) + 0x1p-24;
            EXPECT_NEAR(back, ms, 1.01 * rel * ms + 1e-30) << "srate=" << srate << " ms=" << ms;
        }
    }
}

}  // namespace
