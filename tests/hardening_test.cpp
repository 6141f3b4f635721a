// Bad input at the boundary, through the exports as a host calls them. The
// sanitizer build runs these too, so an overflow or a read outside an array
// on the way fails them even where the answer happens to come out right.
#include "engine/exports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/engine_state.h"
#include "signals/kernels.h"
#include "signals/reference/kernels.h"
#include "support/random_bars.h"

namespace torvik {
namespace {

using namespace testing;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// The exports share the one engine record: every test starts and leaves it
// as it is at load.
class Hardening : public ::testing::Test {
protected:
    void SetUp() override { engineState = EngineState{}; }
    void TearDown() override { engineState = EngineState{}; }
};

struct Host {
    Bars bars = RandomWalk(300, 7);
    double bid = bars.back().close;
    double positionOpenPrice = 0.0;

    int32_t Rft(int32_t barCount) const
    {
        const int32_t n = static_cast<int32_t>(bars.size());
        return ::Rft(barCount, bars.data(), n, bars.data(), n, bars.data(), n, bid + 0.00012, bid, 5, 0.00001,
                     positionOpenPrice, 0, 4);
    }
    // A calibrated record whose periods are all at least 1, so every kernel
    // runs, then an Rft with the given barCount.
    void UpdateThenRft(int32_t barCount) const
    {
        engineState = EngineState{};
        Rft(300);
        ::IniAll("EURUSD", "USD");
        Rft(barCount);
    }
};

// A barCount of 0 or less leaves lastBarIndex negative (down to -2147483648
// when barCount is -2147483647); the decisions must then see no bars,
// exactly as with barCount 0.
TEST_F(Hardening, BarCountsOfZeroOrLessDecideAsWithNone)
{
    for (const double openPrice : {0.0, 1.3}) {
        Host host;
        host.positionOpenPrice = openPrice;
        host.UpdateThenRft(0);
        const int32_t open = ::OpenSignal();
        const int32_t close = ::CloseSignal();
        EXPECT_EQ(open, 0);

        for (const int32_t barCount : {-1, -2, INT32_MIN + 1, INT32_MIN}) {
            host.UpdateThenRft(barCount);
            EXPECT_EQ(::OpenSignal(), open) << "barCount " << barCount << ", open price " << openPrice;
            EXPECT_EQ(::CloseSignal(), close) << "barCount " << barCount << ", open price " << openPrice;
        }
    }
}

// A rejected barCount above 501 leaves lastBarIndex beyond the series. The
// kernels that count back from it see no bars; Williams %R reads bars 1 to W
// only, so it goes on reading the kept bars, and the exit rules, which read
// nothing else of the series but the close of bar 1, answer as they did
// after the accepted call.
TEST_F(Hardening, BarCountsBeyondTheSeriesLeaveOnlyWilliamsRReading)
{
    for (const double openPrice : {0.0, 1.3}) {
        Host host;
        host.positionOpenPrice = openPrice;
        host.UpdateThenRft(300);
        const double wB = ComputeWilliamsR(engineState, engineState.wprPeriod2);
        const int32_t close = ::CloseSignal();
        ASSERT_NE(wB, 0.0);

        for (const int32_t barCount : {502, 5000, INT32_MAX}) {
            host.UpdateThenRft(barCount);
            const std::string what = "barCount " + std::to_string(barCount) + ", open price " + std::to_string(openPrice);
            EXPECT_EQ(ComputeWilliamsR(engineState, engineState.wprPeriod2), wB) << what;
            const WalkedKernels k = ComputeWalkedKernels(engineState, engineState.smmaPeriod, engineState.atrPeriod,
                                                         engineState.cciPeriod);
            EXPECT_EQ(k.smoothedClose, 0.0) << what;
            EXPECT_EQ(k.averageTrueRange, 0.0) << what;
            EXPECT_EQ(k.cci, 0.0) << what;
            EXPECT_EQ(::CloseSignal(), close) << what;
        }
    }
}

// A rejected Rft of 501 bars leaves lastBarIndex at 500 and the 500 bars of
// the call before: every kernel reads bars up to L-1 = 499, all inside the
// series, so the decisions go on reading those bars unnoticed, one bar
// further back than the accepted call let them. Bar i closes at 1000 + i and
// every bar is a point, so the averages are exact.
TEST_F(Hardening, ARejectedRftOf501BarsLeavesTheKeptBarsReadable)
{
    Bars ladder;
    for (int k = 0; k < SeriesCapacity; ++k) {
        const double c = 1000.0 + (SeriesCapacity - 1 - k);  // the host passes bars oldest first
        ladder.push_back(Bar(c, c, c, c));
    }
    const auto rft = [&ladder](int32_t barCount) {
        return ::Rft(barCount, ladder.data(), SeriesCapacity, ladder.data(), SeriesCapacity, ladder.data(),
                     SeriesCapacity, 1000.5, 1000.0, 2, 0.01, 0.0, 0, 4);
    };
    constexpr int32_t P = SeriesCapacity - 1;

    ASSERT_EQ(rft(SeriesCapacity), 0);
    const WalkedKernels accepted = ComputeWalkedKernels(engineState, P, MaxAtrPeriod, P);
    EXPECT_EQ(accepted.smoothedClose, 0.0) << "L = 499 is not above the period";
    EXPECT_EQ(accepted.cci, 0.0);

    ASSERT_EQ(rft(SeriesCapacity + 1), 0);
    ASSERT_EQ(engineState.lastBarIndex, SeriesCapacity);
    const WalkedKernels kept = ComputeWalkedKernels(engineState, P, MaxAtrPeriod, P);
    EXPECT_EQ(kept.smoothedClose, 1250.0) << "the seed: the mean of bars 1 to 499";
    EXPECT_EQ(kept.averageTrueRange, 1.0);
    EXPECT_EQ(reference::ComputeMovingAverage(engineState, P, engineState.closeSeries, SimpleAverage, 0), 1249.0);
    EngineState periods = engineState;
    periods.atrPeriod = MaxAtrPeriod;
    periods.cciPeriod = P;
    EXPECT_EQ(kept.averageTrueRange, reference::ComputeAverageTrueRange(periods));
    EXPECT_EQ(kept.cci, reference::ComputeCci(periods));
    EXPECT_NE(kept.cci, 0.0);

    ASSERT_EQ(rft(SeriesCapacity + 2), 0);
    const WalkedKernels none = ComputeWalkedKernels(engineState, P, MaxAtrPeriod, P);
    EXPECT_EQ(none.smoothedClose, 0.0);
    EXPECT_EQ(none.averageTrueRange, 0.0);
    EXPECT_EQ(none.cci, 0.0);
}

Bars WithEveryPrice(Bars bars, double price, double volume)
{
    for (BarRecord& b : bars) b = Bar(price, price, price, price, volume);
    return bars;
}

// Bars of not-a-number (or infinite) prices and volumes give statistics that
// RoundHalfUpToInt turns into 0 or -2147483648: calibration then derives
// its values as for bars without range or volume, and no decision fires,
// not even with a position open.
TEST_F(Hardening, BarsThatAreNotNumbersCalibrateSafelyAndNeverDecide)
{
    const auto calibrate = [](const Bars& bars, double openPrice) {
        engineState = EngineState{};
        const int32_t n = static_cast<int32_t>(bars.size());
        EXPECT_EQ(::Rft(n, bars.data(), n, bars.data(), n, bars.data(), n, 1.10012, 1.1, 5, 0.00001, openPrice, 0, 4),
                  0);
        EXPECT_EQ(::IniAll("XAGEUR", "EUR"), 0);
    };
    const Bars shape = RandomWalk(300, 11);
    calibrate(WithEveryPrice(shape, 1.1, 0.0), 0.0);
    const EngineState flat = engineState;

    for (const double bad : {NaN, -NaN}) {
        for (const double openPrice : {0.0, 1.09, 1.11}) {
            calibrate(WithEveryPrice(shape, bad, bad), openPrice);
            EXPECT_EQ(engineState.stopLossPips, flat.stopLossPips);
            EXPECT_EQ(engineState.takeProfitPips, flat.takeProfitPips);
            EXPECT_EQ(engineState.hhh2, flat.hhh2);
            EXPECT_EQ(engineState.smmaPeriod, flat.smmaPeriod);
            EXPECT_EQ(engineState.cciLevel, flat.cciLevel);
            EXPECT_EQ(::OpenSignal(), 0) << openPrice;
            EXPECT_EQ(::CloseSignal(), 0) << openPrice;
        }
    }
    for (const double bad : {Inf, -Inf}) {
        calibrate(WithEveryPrice(shape, bad, bad), 1.09);
        EXPECT_EQ(::OpenSignal(), 0);
        EXPECT_EQ(::CloseSignal(), 0);
    }
    // Ordinary bars, but an ask and a bid that are not numbers: each exit
    // rule compares one of them, so none holds.
    for (const double openPrice : {0.0, 1.09, 1.11}) {
        const int32_t n = static_cast<int32_t>(shape.size());
        ::Rft(n, shape.data(), n, shape.data(), n, shape.data(), n, NaN, NaN, 5, 0.00001, openPrice, 1, 4);
        EXPECT_EQ(::IniAll("EURUSD", "USD"), 0);
        EXPECT_EQ(::OpenSignal(), 0) << openPrice;
        EXPECT_EQ(::CloseSignal(), 0) << openPrice;
    }
}

// Quotes a host should never pass: what Rft stores, what the getters answer
// after IniAll, and that no decision fires without a position.
TEST_F(Hardening, QuotesOutsideTheirDomain)
{
    const Bars bars = RandomWalk(300, 13);
    const int32_t n = static_cast<int32_t>(bars.size());
    const double close = bars.back().close;
    struct Case {
        const char* what;
        double ask, bid, point;
        int32_t digits, pipMode;
        int32_t spreadPoints;
        double dpp;      // not a number: any not-a-number
        bool potpIsNaN;  // pipDigits outside 0..9 with a nonzero distance
    };
    const Case cases[] = {
        {"zero point", close + 0.00012, close, 0.0, 5, 4, INT32_MIN, 0.0, false},
        {"zero point, zero spread", close, close, 0.0, 5, 4, INT32_MIN, 0.0, false},
        {"negative point", close + 0.00012, close, -0.00001, 5, 4, -11, -0.0001, false},
        {"not-a-number point", close + 0.00012, close, NaN, 5, 4, INT32_MIN, NaN, false},
        {"not-a-number ask and bid", NaN, NaN, 0.00001, 5, 4, INT32_MIN, 0.0001, false},
        {"infinite ask", Inf, close, 0.00001, 5, 4, INT32_MIN, 0.0001, false},
        {"twelve digits", close + 0.00012, close, 0.00001, 12, 4, 11, 0.0001, true},
        {"most negative digits", close + 0.00012, close, 0.00001, INT32_MIN, 4, 11, 0.0001, true},
        {"most negative pipMode", close + 0.00012, close, 0.00001, 5, INT32_MIN, 11, 0.0001, false},
    };
    for (const Case& c : cases) {
        engineState = EngineState{};
        EXPECT_EQ(::Rft(n, bars.data(), n, bars.data(), n, bars.data(), n, c.ask, c.bid, c.digits, c.point, 0.0, 0,
                        c.pipMode),
                  0)
            << c.what;
        EXPECT_EQ(engineState.spreadPoints, c.spreadPoints) << c.what;
        for (const char* symbol : {"EURUSD", "XAGEUR"}) {
            EXPECT_EQ(::IniAll(symbol, "USD"), 0) << c.what;
            if (std::isnan(c.dpp)) EXPECT_TRUE(std::isnan(::Dpp())) << c.what;
            else EXPECT_EQ(::Dpp(), c.dpp) << c.what;
            EXPECT_EQ(std::isnan(::PoTP()), c.potpIsNaN) << c.what << " " << symbol;
            EXPECT_EQ(::OpenSignal(), 0) << c.what << " " << symbol;
            EXPECT_EQ(::CloseSignal(), 0) << c.what << " " << symbol;
        }
    }
}

TEST_F(Hardening, NullTextsCalibrateAsEmptyTexts)
{
    const Host host;
    host.Rft(300);
    ::IniAll("", "");
    const EngineState empty = engineState;
    for (const char* symbol : {static_cast<const char*>(nullptr), ""}) {
        for (const char* currency : {static_cast<const char*>(nullptr), ""}) {
            ::IniAll("EURUSD", "USD");  // something else first
            EXPECT_EQ(::IniAll(symbol, currency), 0);
            EXPECT_EQ(engineState.profileMatched, 0);
            EXPECT_EQ(engineState.pipSize, empty.pipSize);
            EXPECT_EQ(engineState.hhh2, empty.hhh2);
            EXPECT_EQ(engineState.stopLossPips, empty.stopLossPips);
        }
    }
}

// Not a number in one argument of LOT on a "USD" symbol: no comparison with it
// holds, so a lot that became not a number rounds to 0 and ends at minLot, a
// not-a-number margin cuts the lot back to just under twice minLot, and a
// not-a-number limit is never applied.
TEST_F(Hardening, LotWithArgumentsThatAreNotNumbers)
{
    struct Case {
        const char* what;
        int argument;  // 0 fixedLot .. 8 marginPerLot, as in the export
        double expected;
    };
    const Case cases[] = {
        {"fixedLot", 0, 0.2},       {"riskPercent", 1, 0.01}, {"riskMultiplier", 2, 0.01}, {"minLot", 3, 0.2},
        {"maxLot", 4, 0.2},         {"accountFunds", 7, 0.01}, {"marginPerLot", 8, 0.02},
    };
    for (const Case& c : cases) {
        double a[9] = {0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 0.0, 10000.0, 1000.0};
        a[c.argument] = NaN;
        const double lot = ::LOT(a[0], a[1], a[2], a[3], a[4], a[5], 100000, a[7], a[8], 1, "EURUSD");
        EXPECT_DOUBLE_EQ(lot, c.expected) << c.what;
    }
}

}  // namespace
}  // namespace torvik
