#include "engine/rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace torvik {
namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(RoundHalfUp, PositiveHalfGoesUpNegativeAlwaysGoesDown)
{
    struct Case {
        double x, expected;
    };
    const Case cases[] = {
        {2.5, 3.0},   {2.49, 2.0},  {0.5, 1.0},           {0.0, 0.0},   {-2.5, -3.0},
        {-2.4, -3.0}, {-0.2, -1.0}, {-2.0, -2.0},         {7.0, 7.0},   {2147483647.4, 2147483647.0},
        // Beyond the int range the truncation is -2^31: above it ceil, below it floor.
        {2147483648.2, 2147483649.0}, {3e9 + 0.1, 3000000001.0}, {-3e9 - 0.5, -3000000001.0},
        {Inf, Inf},   {-Inf, -Inf},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundHalfUp(c.x), c.expected) << c.x;
}

TEST(RoundHalfUp, NotANumberBecomesZeroAndZeroKeepsItsSign)
{
    EXPECT_EQ(RoundHalfUp(NaN), 0.0);
    EXPECT_TRUE(std::signbit(RoundHalfUp(-0.0)));
    EXPECT_FALSE(std::signbit(RoundHalfUp(0.0)));
}

TEST(RoundHalfUpToInt, OutOfRangeGivesIntMin)
{
    EXPECT_EQ(RoundHalfUpToInt(3000000000.0), INT32_MIN);
    EXPECT_EQ(RoundHalfUpToInt(2147483646.5), 2147483647);
    EXPECT_EQ(RoundHalfUpToInt(2147483647.5), INT32_MIN);  // ceil leaves the range
    EXPECT_EQ(RoundHalfUpToInt(-2147483648.0), INT32_MIN);
    EXPECT_EQ(RoundHalfUpToInt(-2147483647.5), INT32_MIN);  // floor reaches -2^31 exactly
    EXPECT_EQ(RoundHalfUpToInt(-2147483648.5), INT32_MIN);
    EXPECT_EQ(RoundHalfUpToInt(Inf), INT32_MIN);
    EXPECT_EQ(RoundHalfUpToInt(-Inf), INT32_MIN);
    EXPECT_EQ(RoundHalfUpToInt(NaN), 0);
    EXPECT_EQ(RoundHalfUpToInt(-0.2), -1);
}

TEST(TruncateToInt32, TowardZeroWithinRangeIntMinOutside)
{
    EXPECT_EQ(TruncateToInt32(4.99999999998), 4);
    EXPECT_EQ(TruncateToInt32(-1.7), -1);
    EXPECT_EQ(TruncateToInt32(2147483647.9), 2147483647);
    EXPECT_EQ(TruncateToInt32(2147483648.0), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(-2147483648.9), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(-2147483649.0), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(NaN), INT32_MIN);
}

TEST(RoundToDigits, DividesByTheDecimalUnit)
{
    // 0.235 / 0.01 is 23.499999999999996: multiplying by 100 would give 0.24.
    EXPECT_EQ(RoundToDigits(0.235, 2), 23.0 * 0.01);
    EXPECT_EQ(RoundToDigits(0.00255, 4), 26.0 * 0.0001);
    EXPECT_EQ(RoundToDigits(-0.00012, 4), -2.0 * 0.0001);
    EXPECT_EQ(RoundToDigits(1.23456, 0), 1.0);
    EXPECT_EQ(RoundToDigits(20.0 * 0.0001, 4), 20.0 * 0.0001);
    EXPECT_EQ(RoundToDigits(1.5e-9, 9), 2.0 * 0.000000001);
}

TEST(RoundToDigits, DigitCountsOutsideZeroToNine)
{
    for (const int d : {10, -1, 100, INT32_MIN, INT32_MAX}) {
        EXPECT_TRUE(std::isnan(RoundToDigits(0.5, d))) << d;
        EXPECT_TRUE(std::isnan(RoundToDigits(-3.0, d))) << d;
        EXPECT_EQ(RoundToDigits(0.0, d), 0.0) << d;
    }
    for (const int d : {-1, 0, 4, 9, 10}) EXPECT_EQ(RoundToDigits(NaN, d), 0.0) << d;
}

TEST(NearlyEqual, OneSidedAtHalfTheResolution)
{
    EXPECT_TRUE(NearlyEqual(1.0, 1.0));
    EXPECT_TRUE(NearlyEqual(1.000000004, 1.0));
    EXPECT_FALSE(NearlyEqual(1.0, 1.000000004));
    EXPECT_FALSE(NearlyEqual(1.00000001, 1.0));
    EXPECT_TRUE(NearlyEqual(0.0, 0.0));
    EXPECT_TRUE(NearlyEqual(NaN, 0.0));
    EXPECT_FALSE(NearlyEqual(-1e-300, 0.0));
}

TEST(WrappingArithmetic, TwosComplement)
{
    EXPECT_EQ(WrapAdd(INT32_MAX, 1), INT32_MIN);
    EXPECT_EQ(WrapSub(INT32_MIN, 1), INT32_MAX);
    EXPECT_EQ(WrapMul(65536, 65536), 0);
    EXPECT_EQ(WrapMul(-3, 7), -21);
    EXPECT_EQ(WrapNeg(INT32_MIN), INT32_MIN);
    EXPECT_EQ(WrapDiv(INT32_MIN, -1), INT32_MIN);
    EXPECT_EQ(WrapDiv(-7, 2), -3);
}

}  // namespace
}  // namespace torvik
