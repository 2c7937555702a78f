// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>
#include <quivex/sigmoid.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Sigmoid, HalfShapeIsIdentity)
{
    EXPECT_NEAR(sigmoid(0.25, 0.5), 0.25, 1e-15);
    EXPECT_NEAR(sigmoid(0.8, 0.5), 0.8, 1e-15);
    EXPECT_EQ(sigmoid(0.0, 0.5), 0.0);
    EXPECT_EQ(sigmoid(1.0, 0.5), 1.0);
    for (int i = 0; i <= 100; ++i) {
        const double t = i / 100.0;
        EXPECT_NEAR(sigmoid(t, 0.5), t, 1e-15) << "t=" << t;
    }
}

TEST(Sigmoid, MatchesKnownPointsOfSCurves)
{
    EXPECT_NEAR(sigmoid(0.25, 0.3), 0.15, 1e-15);
    EXPECT_NEAR(sigmoid(0.75, 0.3), 0.85, 1e-15);
    // a = 0.25 is the exponent 2: 0.5 * (0.2)^2 = 0.02.
    EXPECT_NEAR(sigmoid(0.1, 0.25), 0.02, 1e-15);
    EXPECT_NEAR(sigmoid(0.9, 0.25), 0.98, 1e-15);
}

TEST(Sigmoid, ClampsInputToUnitInterval)
{
    for (double a : {0.0, 0.1, 0.3, 0.5, 0.7, 1.0, 2.0}) {
        EXPECT_EQ(sigmoid(-3.0, a), sigmoid(0.0, a)) << "a=" << a;
        EXPECT_EQ(sigmoid(7.0, a), sigmoid(1.0, a)) << "a=" << a;
        EXPECT_EQ(sigmoid(-1e-300, a), sigmoid(0.0, a)) << "a=" << a;
        EXPECT_EQ(sigmoid(1.0 + 1e-12, a), sigmoid(1.0, a)) << "a=" << a;
    }
}

TEST(Sigmoid, CentreIsHalfForEveryShapeIncludingNegative)
{
    for (double a : {-5.0, -1.0, -0.25, 0.0, 0.1, 0.5, 0.9, 1.0, 2.0, 100.0})
        EXPECT_EQ(sigmoid(0.5, a), 0.5) << "a=" << a;
}

TEST(Sigmoid, ShapeOneIsConstantHalf)
{
    EXPECT_EQ(sigmoid(0.0, 1.0), 0.5);
    EXPECT_EQ(sigmoid(1.0, 1.0), 0.5);
    for (double t : {0.1, 0.3, 0.6, 0.99})
        EXPECT_EQ(sigmoid(t, 1.0), 0.5) << "t=" << t;
}

TEST(Sigmoid, ShapeAboveOneDivergesAtTheEnds)
{
    EXPECT_EQ(sigmoid(0.0, 2.0), kInf);
    EXPECT_EQ(sigmoid(1.0, 2.0), -kInf);
    // Between the ends the curve leaves [0, 1] on the wrong side of the centre.
    EXPECT_GT(sigmoid(0.25, 2.0), 0.5);
    EXPECT_LT(sigmoid(0.75, 2.0), 0.5);
}

TEST(Sigmoid, ShapeZeroIsStep)
{
    for (double t : {0.0, 0.1, 0.25, 0.4999})
        EXPECT_EQ(sigmoid(t, 0.0), 0.0) << "t=" << t;
    EXPECT_EQ(sigmoid(0.5, 0.0), 0.5);
    for (double t : {0.5001, 0.75, 0.9, 1.0})
        EXPECT_EQ(sigmoid(t, 0.0), 1.0) << "t=" << t;
}

TEST(Sigmoid, NegativeShapeGivesNaNAwayFromCentre)
{
    for (double t : {0.0, 0.2, 0.7, 1.0})
        EXPECT_TRUE(std::isnan(sigmoid(t, -0.5))) << "t=" << t;
}

TEST(Sigmoid, PointSymmetricAboutCentre)
{
    for (int j = 1; j <= 20; ++j) {
        const double a = j / 20.0;
        for (int i = 0; i <= 200; ++i) {
            const double t = i / 200.0;
            EXPECT_NEAR(sigmoid(1.0 - t, a), 1.0 - sigmoid(t, a), 1e-12)
                << "t=" << t << " a=" << a;
        }
    }
}

TEST(Sigmoid, PassesThroughQuarterPointsAtHalfShape)
{
    for (int j = 0; j <= 20; ++j) {
        const double a = j / 20.0;
        EXPECT_NEAR(sigmoid(0.25, a), a / 2.0, 1e-15) << "a=" << a;
        EXPECT_NEAR(sigmoid(0.75, a), 1.0 - a / 2.0, 1e-15) << "a=" << a;
    }
}

TEST(Sigmoid, MonotoneOnUnitIntervalForShapesBelowOne)
{
    for (double a : {0.05, 0.3, 0.5, 0.8, 0.99}) {
        double prev = sigmoid(0.0, a);
        for (int i = 1; i <= 400; ++i) {
            const double v = sigmoid(i / 400.0, a);
            EXPECT_GE(v, prev) << "t=" << i / 400.0 << " a=" << a;
            EXPECT_GE(v, 0.0);
            EXPECT_LE(v, 1.0);
            prev = v;
        }
    }
}

}  // namespace
