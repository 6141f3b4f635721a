#include "market/range_statistics.h"

#include <gtest/gtest.h>

#include <limits>

namespace torvik {
namespace {

// pipSize a power of two keeps the range arithmetic exact.
constexpr double Pip = 1.0 / 1024.0;

EngineState WithBars(double low, double high, double volume)
{
    EngineState s{};
    for (int i = 0; i < SeriesCapacity; ++i) {
        s.lowSeries[i] = low;
        s.highSeries[i] = high;
        s.volumeSeries[i] = volume;
    }
    s.pipSize = Pip;
    s.lastBarIndex = 120;
    return s;
}

TEST(FindHighestIndex, TiesGoToTheOlderBar)
{
    EngineState s{};
    const double highs[] = {1.2, 1.5, 1.3, 1.5, 1.1};
    const double lows[] = {1.0, 0.9, 0.9, 1.2, 0.95};
    for (int i = 0; i < 5; ++i) {
        s.highSeries[i + 1] = highs[i];
        s.lowSeries[i + 1] = lows[i];
    }
    EXPECT_EQ(FindHighestIndex(s, 5, 1), 4);
    EXPECT_EQ(FindLowestIndex(s, 5, 1), 3);
    EXPECT_EQ(FindHighestIndex(s, 2, 1), 2);
    EXPECT_EQ(FindLowestIndex(s, 1, 1), 1);
}

TEST(FindHighestIndex, EmptyWindowsAndWindowsAtTheSeriesEdge)
{
    EngineState s = WithBars(1.0, 2.0, 0.0);
    EXPECT_EQ(FindHighestIndex(s, 0, 7), 7);
    EXPECT_EQ(FindLowestIndex(s, -3, 7), 7);
    EXPECT_EQ(FindHighestIndex(s, 96, 1), 96);  // all equal: the oldest
    EXPECT_EQ(FindLowestIndex(s, 96, 1), 96);
    // A window running past the series is cut at its end, never read beyond.
    EXPECT_EQ(FindHighestIndex(s, 1000, 450), SeriesCapacity - 1);
    EXPECT_EQ(FindHighestIndex(s, INT32_MAX, 10), SeriesCapacity - 1);
    EXPECT_EQ(FindLowestIndex(s, 5, -2), -2);
    EXPECT_EQ(FindLowestIndex(s, 5, SeriesCapacity), SeriesCapacity);
}

TEST(FindHighestIndex, NotANumberNeverWins)
{
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    EngineState s = WithBars(1.0, 2.0, 0.0);
    s.highSeries[3] = NaN;
    EXPECT_EQ(FindHighestIndex(s, 5, 1), 5);
    s.highSeries[1] = NaN;  // a start that is not a number is never replaced
    EXPECT_EQ(FindHighestIndex(s, 5, 1), 1);
}

TEST(Measures, TheNewestBarNeverCounts)
{
    EngineState s = WithBars(1.0, 1.0 + 14 * Pip, 150.0);
    const int32_t range = MeasureRangePips(s);
    const int32_t barRange = MeasureAverageBarRange(s);
    const int32_t volume = MeasureAverageVolume(s);
    s.highSeries[0] = 50.0;
    s.lowSeries[0] = -50.0;
    s.volumeSeries[0] = 1e9;
    EXPECT_EQ(MeasureRangePips(s), range);
    EXPECT_EQ(MeasureAverageBarRange(s), barRange);
    EXPECT_EQ(MeasureAverageVolume(s), volume);
    EXPECT_EQ(range, 14);
    EXPECT_EQ(barRange, 2);
    EXPECT_EQ(volume, 150);
}

TEST(Measures, RangeSpansTheWholeWindow)
{
    EngineState s = WithBars(1.0, 1.0 + 10 * Pip, 0.0);
    s.highSeries[96] = 1.0 + 240 * Pip;  // the oldest bar of the window counts
    s.lowSeries[97] = 0.0;               // one bar beyond it does not
    EXPECT_EQ(MeasureRangePips(s), 240);
}

TEST(Measures, AverageBarRangeRoundsHalfUpAfterThreeDivisions)
{
    const struct {
        double pipsPerBar;
        int32_t expected;
    } cases[] = {{7.0, 1}, {10.5, 2}, {7.0 * 1.49, 1}, {0.0, 0}, {3.0, 0}, {3.5, 1}};
    for (const auto& c : cases) {
        const EngineState s = WithBars(1.0, 1.0 + c.pipsPerBar * Pip, 0.0);
        EXPECT_EQ(MeasureAverageBarRange(s), c.expected) << c.pipsPerBar;
    }
}

TEST(Measures, AverageVolume)
{
    EXPECT_EQ(MeasureAverageVolume(WithBars(1, 2, 150.4)), 150);
    EXPECT_EQ(MeasureAverageVolume(WithBars(1, 2, 150.5)), 151);  // sum exactly 14448
    EXPECT_EQ(MeasureAverageVolume(WithBars(1, 2, 0.0)), 0);
    EXPECT_EQ(MeasureAverageVolume(WithBars(1, 2, 1e300)), INT32_MIN);
    EXPECT_EQ(MeasureAverageVolume(WithBars(1, 2, std::numeric_limits<double>::quiet_NaN())), 0);
}

TEST(Measures, ZeroPipSize)
{
    EngineState s = WithBars(1.0, 1.5, 0.0);
    s.pipSize = 0.0;
    EXPECT_EQ(MeasureRangePips(s), INT32_MIN);
    EXPECT_EQ(MeasureAverageBarRange(s), INT32_MIN);
    EngineState flat = WithBars(1.0, 1.0, 0.0);
    flat.pipSize = 0.0;
    EXPECT_EQ(MeasureRangePips(flat), 0);  // 0 / 0 is not a number
    EXPECT_EQ(MeasureAverageBarRange(flat), 0);
}

}  // namespace
}  // namespace torvik
