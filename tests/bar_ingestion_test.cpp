#include "market/bar_ingestion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "support/fixtures.h"

namespace torvik {
namespace {

using testing::Bar;
using testing::Bars;

Bars Numbered(int count)
{
    // Bar k (oldest first) has prices around k so every record is recognisable.
    Bars bars;
    for (int k = 0; k < count; ++k) {
        const double base = 1.0 + k;
        bars.push_back(Bar(base, base + 0.5, base - 0.25, base + 0.125, 10.0 * k));
    }
    return bars;
}

BarIngestion Args(const Bars& bars, int32_t barCount)
{
    const int32_t n = static_cast<int32_t>(bars.size());
    return BarIngestion{barCount, bars.data(), n, bars.data(), n, bars.data(), n, 1.30005, 1.30000, 5,
                        0.00001,  0.0,         0, 4};
}

TEST(Rft, SeriesRunNewestFirstFromTheLastRecord)
{
    const Bars bars = Numbered(10);
    EngineState s{};
    EXPECT_EQ(Rft(s, Args(bars, 10)), 0);
    EXPECT_EQ(s.lastBarIndex, 9);
    for (int i = 0; i < 10; ++i) {
        const BarRecord& b = bars[static_cast<size_t>(9 - i)];
        EXPECT_EQ(s.openSeries[i], double{b.open});
        EXPECT_EQ(s.highSeries[i], double{b.high});
        EXPECT_EQ(s.lowSeries[i], double{b.low});
        EXPECT_EQ(s.closeSeries[i], double{b.close});
        EXPECT_EQ(s.volumeSeries[i], double{b.volume});
    }
    EXPECT_EQ(s.openSeries[10], 0.0);
}

TEST(Rft, DerivedPricesInTheirOrderOfOperations)
{
    const Bars bars = {Bar(1.0, 1.3, 1.1, 1.2), Bar(1.0, 1.3, 1.1, 1.2)};
    EngineState s{};
    Rft(s, Args(bars, 2));
    const double low = 1.1, high = 1.3, close = 1.2;
    EXPECT_EQ(s.medianSeries[0], (low + high) * 0.5);
    EXPECT_EQ(s.typicalSeries[0], ((low + high) + close) / 3.0);
    EXPECT_EQ(s.weightedSeries[0], (((low + high) + close) + close) * 0.25);
}

TEST(Rft, BarCountBelowTheTotalTakesOnlyTheNewestBars)
{
    const Bars bars = Numbered(10);
    EngineState s{};
    Rft(s, Args(bars, 1));
    EXPECT_EQ(s.lastBarIndex, 0);
    EXPECT_EQ(s.closeSeries[0], double{bars.back().close});
    EXPECT_EQ(s.closeSeries[1], 0.0);
    // A longer call first: a shorter one leaves the older entries alone.
    Rft(s, Args(bars, 10));
    const Bars other = Numbered(3);
    Rft(s, Args(other, 3));
    EXPECT_EQ(s.closeSeries[2], double{other.front().close});
    EXPECT_EQ(s.closeSeries[9], double{bars.front().close});
}

TEST(Rft, ScalarInputsAndPosition)
{
    struct Case {
        double openPrice;
        int32_t type;
        int32_t hasPosition, side;
    };
    const Case cases[] = {
        {0.0, 1, 0, 0}, {1.2345, 0, 1, 1}, {1.2345, 1, 1, 2}, {1.2345, 4, 1, 0}, {-1.0, 0, 0, 0},
    };
    const Bars bars = Numbered(5);
    for (const Case& c : cases) {
        EngineState s{};
        BarIngestion in = Args(bars, 5);
        in.positionOpenPrice = c.openPrice;
        in.positionType = c.type;
        Rft(s, in);
        EXPECT_EQ(s.hasPosition, c.hasPosition) << c.openPrice << " " << c.type;
        EXPECT_EQ(s.positionSide, c.side) << c.openPrice << " " << c.type;
        EXPECT_EQ(s.positionOpenPrice, c.openPrice);
    }
}

TEST(Rft, PipModeSelectsPipFactor)
{
    const Bars bars = Numbered(5);
    const struct {
        int32_t mode, factor;
    } cases[] = {{4, 1}, {5, 10}, {-3, 1}, {INT32_MIN, 1}, {INT32_MAX, 10}, {0, 1}};
    for (const auto& c : cases) {
        EngineState s{};
        BarIngestion in = Args(bars, 5);
        in.pipMode = c.mode;
        Rft(s, in);
        EXPECT_EQ(s.pipFactor, c.factor) << c.mode;
    }
}

TEST(Rft, SpreadPointsTruncateTowardZero)
{
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double ask, bid, point;
        int32_t spread;
    } cases[] = {
        {1.30005, 1.30000, 0.00001, 4},  // 4.99999999998 truncates to 4
        {1.0, 1.7, 1.0, 0},              // -0.7 truncates to 0
        {1.0, 2.7, 1.0, -1},             // -1.7 truncates to -1
        {1.3, 1.2, 0.0, INT32_MIN},      // zero point: infinite quotient
        {1.3, 1.3, 0.0, INT32_MIN},      // zero over zero
        {NaN, 1.3, 0.00001, INT32_MIN},
        {1e6, 0.0, 0.00001, INT32_MIN},  // beyond the int range
    };
    const Bars bars = Numbered(5);
    for (const auto& c : cases) {
        EngineState s{};
        BarIngestion in = Args(bars, 5);
        in.ask = c.ask;
        in.bid = c.bid;
        in.point = c.point;
        Rft(s, in);
        EXPECT_EQ(s.spreadPoints, c.spread) << c.ask << " " << c.bid << " " << c.point;
    }
}

TEST(Rft, ReferenceBarIsTheSecondNewest)
{
    const Bars series = Numbered(6);
    const Bars ref = {Bar(7.0, 8.0, 6.0, 7.5), Bar(3.0, 4.0, 2.0, 2.5), Bar(9.0, 9.5, 8.5, 9.25)};
    EngineState s{};
    BarIngestion in = Args(series, 3);
    in.refBars = ref.data();
    in.refBarsTotal = 3;
    Rft(s, in);
    EXPECT_EQ(s.refPrevOpen, 3.0);
    EXPECT_EQ(s.refPrevClose, 2.5);
}

// What a rejected call leaves: the scalars of the call are stored, the
// reference bar and the series are the previous call's.
void ExpectRejected(const BarIngestion& rejected, const char* why)
{
    const Bars bars = Numbered(8);
    EngineState s{};
    Rft(s, Args(bars, 8));
    EngineState before = s;
    EXPECT_EQ(Rft(s, rejected), 0) << why;
    EXPECT_EQ(s.lastBarIndex, rejected.barCount - 1) << why;
    EXPECT_EQ(s.askPrice, rejected.ask) << why;
    EXPECT_EQ(s.bidPrice, rejected.bid) << why;
    EXPECT_EQ(s.hostDigits, rejected.digits) << why;
    EXPECT_EQ(s.positionOpenPrice, rejected.positionOpenPrice) << why;
    EXPECT_EQ(s.refPrevClose, before.refPrevClose) << why;
    EXPECT_EQ(s.refPrevOpen, before.refPrevOpen) << why;
    EXPECT_EQ(std::memcmp(s.closeSeries, before.closeSeries, sizeof s.closeSeries), 0) << why;
    EXPECT_EQ(std::memcmp(s.highSeries, before.highSeries, sizeof s.highSeries), 0) << why;
}

TEST(Rft, RejectionsKeepReferenceBarAndSeries)
{
    const Bars other = Numbered(600);
    auto args = [&](int32_t barCount) {
        BarIngestion in = Args(other, barCount);
        in.ask = 2.5;
        in.bid = 2.25;
        in.digits = 3;
        in.positionOpenPrice = 2.0;
        return in;
    };
    BarIngestion in = args(5);
    in.refBars = nullptr;
    ExpectRejected(in, "null reference bars");
    in = args(5);
    in.seriesBars = nullptr;
    ExpectRejected(in, "null series bars");
    in = args(5);
    in.extraBars = nullptr;
    ExpectRejected(in, "null extra bars");
    in = args(0);
    in.extraBarsTotal = -1;
    ExpectRejected(in, "negative total");
    for (int which = 0; which < 3; ++which) {
        in = args(11);
        if (which == 0) in.refBarsTotal = 10;
        if (which == 1) in.seriesBarsTotal = 10;
        if (which == 2) in.extraBarsTotal = 10;
        ExpectRejected(in, "bar count one more than a total");
    }
    ExpectRejected(args(501), "more bars than the series hold");
    in = args(1);
    in.refBarsTotal = 1;
    ExpectRejected(in, "no second-newest reference bar");
}

TEST(Rft, CapacityIsAcceptedAndBarCountZeroUpdatesOnlyTheReferenceBar)
{
    const Bars bars = Numbered(500);
    EngineState s{};
    Rft(s, Args(bars, 500));
    EXPECT_EQ(s.lastBarIndex, 499);
    EXPECT_EQ(s.closeSeries[499], double{bars.front().close});

    const Bars ref = Numbered(4);
    BarIngestion in = Args(ref, 0);
    Rft(s, in);
    EXPECT_EQ(s.lastBarIndex, -1);
    EXPECT_EQ(s.refPrevClose, double{ref[2].close});
    EXPECT_EQ(s.closeSeries[0], double{bars.back().close});  // series unchanged
}

TEST(Rft, MostNegativeBarCountWrapsAndIsRejected)
{
    const Bars bars = Numbered(4);
    EngineState s{};
    Rft(s, Args(bars, INT32_MIN));
    EXPECT_EQ(s.lastBarIndex, INT32_MAX);
    EXPECT_EQ(UsableLastBarIndex(s), -1);
    EXPECT_EQ(s.closeSeries[0], 0.0);
}

}  // namespace
}  // namespace torvik
