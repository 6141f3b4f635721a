#include "signals/kernels.h"
#include "signals/reference/kernels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/random_bars.h"

namespace torvik {
namespace {

using namespace testing;

// A record with lastBarIndex L whose series are set by the test.
EngineState WithLast(int L)
{
    EngineState s{};
    s.lastBarIndex = L;
    return s;
}

TEST(ComputeMovingAverage, SimpleMeansOfWindowsEndingAtEachIndex)
{
    EngineState s = WithLast(6);
    Series S = {1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0};  // S[6] is bar L, never read
    // Period 3: index 0 averages S[0..2], index 3 averages S[3..5].
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 0), 7.0 / 3.0);
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 1), 14.0 / 3.0);
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 3), 56.0 / 3.0);
    // No full window ends at L-P+1 .. L-1.
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 4), 0.0);
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 5), 0.0);
}

TEST(ComputeMovingAverage, RunningSumKeepsItsOrder)
{
    // With a large value leaving the window, the running sum differs in the
    // last bits from a fresh sum of the window: the average follows the sum.
    EngineState s = WithLast(5);
    Series S = {0.1, 0.2, 0.3, 1e16, 0.7};
    double sum = 0.0 + S[4] + S[3];
    sum += S[2];
    sum -= S[4];
    sum += S[1];
    sum -= S[3];
    sum += S[0];
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SimpleAverage, 0), sum / 3.0);
}

TEST(ComputeMovingAverage, SmoothedSeedsAtTheOldestWindow)
{
    EngineState s = WithLast(6);
    Series S = {1.0, 2.0, 4.0, 8.0, 16.0, 32.0, 64.0};
    const double seed = (((0.0 + S[5]) + S[4]) + S[3]) / 3.0;  // oldest sample first
    const double at2 = (2.0 * seed + S[2]) / 3.0;
    const double at1 = (2.0 * at2 + S[1]) / 3.0;
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SmoothedAverage, 3), seed);
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SmoothedAverage, 1), at1);
    EXPECT_EQ(reference::ComputeMovingAverage(s, 3, S, SmoothedAverage, 4), 0.0);
    // With L = P + 1 the value at bar 1 is the seed, the mean of bars 1..P.
    EngineState t = WithLast(4);
    EXPECT_EQ(reference::ComputeMovingAverage(t, 3, S, SmoothedAverage, 1), (((0.0 + S[3]) + S[2]) + S[1]) / 3.0);
}

TEST(ComputeMovingAverage, UndefinedRequestsAnswerZero)
{
    EngineState s = WithLast(10);
    Series S{};
    for (int i = 0; i < SeriesCapacity; ++i) S[i] = 1.0 + i;
    const struct {
        int period, method, index;
    } cases[] = {{10, 0, 1}, {11, 2, 1}, {0, 0, 1}, {-4, 2, 1}, {3, 1, 1},
                 {3, 3, 1},  {3, 0, -1}, {3, 0, 10}, {3, 2, 10}, {INT32_MIN, 0, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(reference::ComputeMovingAverage(s, c.period, S, c.method, c.index), 0.0)
            << c.period << " " << c.method << " " << c.index;
    }
    EXPECT_EQ(reference::ComputeMovingAverage(s, 9, S, SimpleAverage, 1), 6.0);  // L = P + 1
}

EngineState FedWith(const Bars& bars)
{
    EngineState s{};
    Feed(s, bars, Market{1.2, 1.2, 5, 0.00001, 0.0, 0, 4});
    return s;
}

TEST(Kernels, NoResultDependsOnTheOldestBar)
{
    Bars bars = RandomWalk(200, 11);
    EngineState a = FedWith(bars);
    a.atrPeriod = 14;
    a.cciPeriod = 20;
    bars.front() = Bar(9.0, 50.0, 0.001, 25.0, 1e6);
    EngineState b = FedWith(bars);
    b.atrPeriod = 14;
    b.cciPeriod = 20;
    EXPECT_EQ(reference::ComputeMovingAverage(a, 60, a.closeSeries, SmoothedAverage, 1),
              reference::ComputeMovingAverage(b, 60, b.closeSeries, SmoothedAverage, 1));
    EXPECT_EQ(reference::ComputeWilliamsR(a, 17), reference::ComputeWilliamsR(b, 17));
    EXPECT_EQ(reference::ComputeAverageTrueRange(a), reference::ComputeAverageTrueRange(b));
    EXPECT_EQ(reference::ComputeCci(a), reference::ComputeCci(b));
    // ...but the smoothed average depends on every other bar it is handed.
    EngineState c = FedWith(Bars(bars.begin() + 1, bars.end()));
    EXPECT_NE(reference::ComputeMovingAverage(c, 60, c.closeSeries, SmoothedAverage, 1),
              reference::ComputeMovingAverage(b, 60, b.closeSeries, SmoothedAverage, 1));
}

// Williams %R of bar 1 over the W bars 1..W, from the usual definition:
// (highest high - close) / (highest high - lowest low) x -100.
TEST(ComputeWilliamsR, CloseAtTheHighIsZeroAtTheLowMinusOneHundred)
{
    EngineState s = WithLast(10);
    for (int i = 0; i <= 10; ++i) {
        s.highSeries[i] = 1.5;
        s.lowSeries[i] = 1.0;
        s.closeSeries[i] = 1.25;
    }
    s.closeSeries[1] = 1.5;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 5), 0.0);
    s.closeSeries[1] = 1.0;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 5), -100.0);
    s.closeSeries[1] = 1.375;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 5), -25.0);
    // Only bars 1..W count: a higher high at bar 0 or bar W+1 changes nothing.
    s.highSeries[0] = 9.0;
    s.highSeries[6] = 9.0;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 5), -25.0);
    s.highSeries[5] = 2.0;  // inside the window: (2 - 1.375) / 1 x -100
    EXPECT_EQ(reference::ComputeWilliamsR(s, 5), -62.5);
}

TEST(ComputeWilliamsR, IsNotClampedToTheScale)
{
    // (HH - close) x -100 / R lands one unit beyond -100 for this range.
    const double range = 0.08475863032002955;
    EngineState s = WithLast(30);
    for (int i = 0; i <= 30; ++i) {
        s.highSeries[i] = range;
        s.lowSeries[i] = 0.0;
    }
    s.closeSeries[1] = 0.0;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 14), -100.00000000000001);
    EXPECT_LT(reference::ComputeWilliamsR(s, 14), -100.0);
}

TEST(ComputeWilliamsR, NoValueAnswersTheMiddleOfTheScale)
{
    EngineState s = WithLast(10);
    for (int i = 0; i <= 10; ++i) {
        s.highSeries[i] = 1.2 + i * 0.001;
        s.lowSeries[i] = 1.1;
        s.closeSeries[i] = 1.15;
    }
    EXPECT_EQ(reference::ComputeWilliamsR(s, 10), 0.0);       // L <= W
    EXPECT_EQ(reference::ComputeWilliamsR(s, 11), 0.0);
    EXPECT_EQ(reference::ComputeWilliamsR(s, 9), -50.0);      // L = W + 1
    EXPECT_NE(reference::ComputeWilliamsR(s, 8), -50.0);
    for (int i = 0; i <= 10; ++i) s.highSeries[i] = s.lowSeries[i] = 1.1;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 8), -50.0);      // a window without range
    s.highSeries[3] = 1.1 + 0.000000004;           // below the 1e-8 resolution
    EXPECT_EQ(reference::ComputeWilliamsR(s, 8), -50.0);
}

TEST(ComputeAverageTrueRange, SimpleAverageOfTrueRangesWithGaps)
{
    EngineState s = WithLast(4);
    // bar:       0     1     2     3     4 (L, ignored)
    const double high[] = {1.50, 1.40, 1.20, 1.30, 9.0};
    const double low[] = {1.25, 1.30, 1.00, 1.25, 0.0};
    const double close[] = {1.30, 1.35, 1.10, 1.28, 5.0};
    for (int i = 0; i < 5; ++i) {
        s.highSeries[i] = high[i];
        s.lowSeries[i] = low[i];
        s.closeSeries[i] = close[i];
    }
    s.atrPeriod = 3;
    // TR[3] = high - low (the close of bar L is not used); TR[2]: the previous
    // close 1.28 lies above the high, so the range runs from 1.00 up to 1.28;
    // TR[1]: the previous close 1.10 lies below the low.
    const double tr3 = 1.30 - 1.25, tr2 = 1.28 - 1.00, tr1 = 1.40 - 1.10;
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), ((((0.0 + tr3) + tr2) + tr1)) / 3.0);
    EXPECT_NEAR(reference::ComputeAverageTrueRange(s), (0.05 + 0.28 + 0.30) / 3.0, 1e-15);
}

TEST(ComputeAverageTrueRange, PeriodLimits)
{
    EngineState s = FedWith(RandomWalk(500, 9));
    s.atrPeriod = 451;
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), 0.0);
    s.atrPeriod = 450;
    EXPECT_GT(reference::ComputeAverageTrueRange(s), 0.0);
    s.atrPeriod = 499;  // L <= P
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), 0.0);
    s.atrPeriod = 0;
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), 0.0);
    s = FedWith(RandomWalk(452, 9));
    s.atrPeriod = 450;  // P = L - 1 includes TR[L-1], the plain range of bar L-1
    double sum = 0.0 + (s.highSeries[450] - s.lowSeries[450]);
    for (int i = 449; i >= 1; --i) {
        const double pc = s.closeSeries[i + 1];
        sum += std::max(s.highSeries[i], pc) - std::min(s.lowSeries[i], pc);
    }
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), sum / 450.0);
}

TEST(ComputeCci, AgainstTheUsualDefinition)
{
    // CCI = (TP - SMA(TP)) / (0.015 x mean absolute deviation).
    EngineState s = WithLast(5);
    const double tp[] = {7.0, 3.0, 6.0, 9.0, 100.0, -50.0};
    for (int i = 0; i < 6; ++i) s.typicalSeries[i] = tp[i];
    s.cciPeriod = 3;
    // Mean of bars 1..3 is 6, mean deviation 2: (3 - 6) / (0.015 x 2) = -100.
    EXPECT_NEAR(reference::ComputeCci(s), -100.0, 1e-9);
    const double mean = ((((0.0 + 9.0) + 6.0) + 3.0)) / 3.0;
    const double scaled = (0.015 / 3.0) * (((0.0 + 3.0) + 0.0) + 3.0);
    EXPECT_EQ(reference::ComputeCci(s), (3.0 - mean) / scaled);
}

TEST(ComputeCci, DegenerateCases)
{
    EngineState s = FedWith(Flat(50, 1.25, 0.25));
    s.cciPeriod = 20;
    EXPECT_EQ(reference::ComputeCci(s), 0.0);  // constant typical prices: no deviation
    EngineState t = FedWith(RandomWalk(50, 4));
    t.cciPeriod = 1;
    EXPECT_EQ(reference::ComputeCci(t), 0.0);
    t.cciPeriod = 2;
    EXPECT_NE(reference::ComputeCci(t), 0.0);
    t.cciPeriod = 49;  // L <= P
    EXPECT_EQ(reference::ComputeCci(t), 0.0);
}

// Only a rejected Rft leaves lastBarIndex beyond the series. The kernels
// that count back from it see no bars; %R, whose window is bars 1 to W,
// reads them as before.
TEST(Kernels, LastBarIndexBeyondTheSeriesLeavesOnlyWilliamsRReading)
{
    EngineState s = FedWith(RandomWalk(300, 2));
    s.atrPeriod = 14;
    s.cciPeriod = 20;
    const double wpr = reference::ComputeWilliamsR(s, 17);
    ASSERT_NE(wpr, 0.0);
    s.lastBarIndex = 100000;
    EXPECT_EQ(reference::ComputeMovingAverage(s, 60, s.closeSeries, SmoothedAverage, 1), 0.0);
    EXPECT_EQ(reference::ComputeWilliamsR(s, 17), wpr);
    EXPECT_EQ(reference::ComputeWilliamsR(s, 99998), reference::ComputeWilliamsR(s, SeriesCapacity - 1))
        << "a window beyond the series is cut at its end";
    EXPECT_EQ(ComputeWilliamsR(s, 99998), reference::ComputeWilliamsR(s, 99998));
    EXPECT_EQ(ComputeWilliamsR(s, 17), wpr);
    EXPECT_EQ(reference::ComputeAverageTrueRange(s), 0.0);
    EXPECT_EQ(reference::ComputeCci(s), 0.0);
}

}  // namespace
}  // namespace torvik
