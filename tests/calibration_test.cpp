#include "calibration/calibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "calibration/instrument_profiles.h"

namespace torvik {
namespace {

constexpr double Point = 1.0 / 1024.0;

// A state as Rft leaves it: 120 bars of the given volume whose highs and lows
// give the requested statistics, a pip of one point, no spread.
EngineState Fed(double volume, double barRangePips = 7.0, double extraRangePips = 0.0)
{
    EngineState s{};
    for (int i = 0; i < 120; ++i) {
        s.lowSeries[i] = 1.0;
        s.highSeries[i] = 1.0 + barRangePips * Point;
        s.volumeSeries[i] = volume;
    }
    // One bar lifted whole: the total range grows, the mean bar range does not.
    s.highSeries[50] += extraRangePips * Point;
    s.lowSeries[50] += extraRangePips * Point;
    s.lastBarIndex = 119;
    s.hostPoint = Point;
    s.hostDigits = 4;
    s.pipFactor = 10;
    s.spreadPoints = 0;
    return s;
}

EngineState Calibrated(double volume, const char* symbol = "XAGXAU")
{
    EngineState s = Fed(volume);
    IniAll(s, symbol, "USD");
    return s;
}

TEST(FoldVolumeAverage, IntoOneHundredToTwoHundred)
{
    const EngineState s{};
    const struct {
        int32_t average, folded;
    } cases[] = {{0, 100},   {50, 150},  {99, 199},  {100, 100}, {150, 150}, {200, 200},
                 {201, 101}, {250, 150}, {299, 199}, {300, 100}, {434, 134}, {1000, 100},
                 {1001, 101}, {2147483647, 147}, {-40, 60}};
    for (const auto& c : cases) EXPECT_EQ(FoldVolumeAverage(s, c.average), c.folded) << c.average;
}

struct Derived {
    int32_t hhh1, hhh2, closeLossPips, minAtrPips, smmaGapPips1, smmaGapPips2, wprLevel1, wprLevel2, smmaPeriod,
        cciPeriod, atrPeriod, wprPeriod, wprPeriod2;
};

void ExpectDerived(const EngineState& s, const Derived& d, double volume)
{
    EXPECT_EQ(s.hhh1, d.hhh1) << volume;
    EXPECT_EQ(s.hhh2, d.hhh2) << volume;
    EXPECT_EQ(s.closeLossPips, d.closeLossPips) << volume;
    EXPECT_EQ(s.minAtrPips, d.minAtrPips) << volume;
    EXPECT_EQ(s.smmaGapPips1, d.smmaGapPips1) << volume;
    EXPECT_EQ(s.smmaGapPips2, d.smmaGapPips2) << volume;
    EXPECT_EQ(s.wprLevel1, d.wprLevel1) << volume;
    EXPECT_EQ(s.wprLevel2, d.wprLevel2) << volume;
    EXPECT_EQ(s.smmaPeriod, d.smmaPeriod) << volume;
    EXPECT_EQ(s.cciPeriod, d.cciPeriod) << volume;
    EXPECT_EQ(s.atrPeriod, d.atrPeriod) << volume;
    EXPECT_EQ(s.wprPeriod, d.wprPeriod) << volume;
    EXPECT_EQ(s.wprPeriod2, d.wprPeriod2) << volume;
}

TEST(CalibrateInstrument, DerivedValuesFromTheFoldedVolume)
{
    const Derived at100{1, 13, -59, 6, 8, 22, -53, -56, 60, 13, 13, 12, 11};
    const Derived at150{2, 20, -88, 7, 12, 33, -79, -83, 80, 20, 19, 18, 16};
    const Derived at200{2, 27, -118, 10, 16, 44, -100, -100, 100, 27, 26, 20, 20};
    const struct {
        double volume;
        const Derived& d;
        int32_t cciLevel;
    } cases[] = {{0, at100, 0}, {100, at100, 50}, {300, at100, 150}, {150, at150, 75}, {250, at150, 125},
                 {200, at200, 100}};
    for (const auto& c : cases) {
        const EngineState s = Calibrated(c.volume);
        ExpectDerived(s, c.d, c.volume);
        EXPECT_EQ(s.cciLevel, c.cciLevel) << c.volume;
        EXPECT_EQ(s.closeProfitPips, 20);
        EXPECT_EQ(s.wprLevel3, 0);
        EXPECT_EQ(s.profileMatched, 0);
    }
}

TEST(CalibrateInstrument, MirroredLevels)
{
    const EngineState s = Calibrated(150);
    EXPECT_EQ(s.wprBuyLevel1, -79);
    EXPECT_EQ(s.wprBuyLevel2, -83);
    EXPECT_EQ(s.wprSellLevel1, -21);
    EXPECT_EQ(s.wprSellLevel2, -17);
    EXPECT_EQ(s.wprBuyLevel3, 0);
    EXPECT_EQ(s.wprSellLevel3, -100);
}

TEST(CalibrateInstrument, ProtectiveDistancesFromTheRanges)
{
    const struct {
        double barRangePips, extraRangePips;
        int32_t stopLoss, takeProfit;
    } cases[] = {
        {14.0, 226.0, 240, 40},  // barRangeUnits 2, rangePips 240
        {7.0, 93.0, 100, 10},    // 1 and 100: both at their bounds
        {3.0, 297.0, 100, 10},   // barRangeUnits 0
        {21.0, 579.0, 900, 150}, // 3 and 600
    };
    for (const auto& c : cases) {
        EngineState s = Fed(150, c.barRangePips, c.extraRangePips);
        IniAll(s, "", "USD");
        EXPECT_EQ(s.stopLossPips, c.stopLoss) << c.barRangePips;
        EXPECT_EQ(s.takeProfitPips, c.takeProfit) << c.barRangePips;
    }
}

TEST(CalibrateInstrument, SpreadFloorAppliesToDerivedAndProfileValues)
{
    EngineState s = Fed(100);
    s.spreadPoints = 2;
    IniAll(s, "", "USD");
    EXPECT_EQ(s.hhh2, 13);
    s.spreadPoints = 12;
    IniAll(s, "", "USD");
    EXPECT_EQ(s.hhh2, 16);
    IniAll(s, "GBPJPY", "USD");
    EXPECT_EQ(s.hhh2, 16);  // the profile's 14 is below 12 + 4
    s.spreadPoints = INT32_MAX;  // the floor wraps, it does not trap
    IniAll(s, "", "USD");
    EXPECT_EQ(s.hhh2, 13);
}

TEST(CalibrateInstrument, PipConvention)
{
    const struct {
        int32_t factor, digits;
        const char* currency;
        double pipSize;
        int32_t pipDigits, dsp, dcloseSp;
    } cases[] = {
        {1, 5, "USD", 10 * Point, 4, 20, 30}, {10, 5, "USD", Point, 5, 2, 3},
        {10, 5, "EUR", 10 * Point, 4, 20, 30}, {10, 4, "EUR", Point, 4, 2, 3},
        {1, 3, "EUR", 10 * Point, 2, 20, 30}, {10, 2, "EUR", Point, 2, 2, 3},
        {10, 1, "EUR", Point, 1, 2, 3},        {1, 6, "JPY", Point, 5, 20, 30},
        {1, 5, "xUSDx", 10 * Point, 4, 20, 30}, {1, 5, "usd", 10 * Point, 4, 20, 30},
        {10, 5, nullptr, 10 * Point, 4, 20, 30},
    };
    for (const auto& c : cases) {
        EngineState s = Fed(150);
        s.pipFactor = c.factor;
        s.hostDigits = c.digits;
        IniAll(s, "", c.currency);
        const std::string what = std::to_string(c.factor) + "/" + std::to_string(c.digits) + "/" +
                                 (c.currency ? c.currency : "null");
        EXPECT_EQ(s.pipSize, c.pipSize) << what;
        EXPECT_EQ(s.pipDigits, c.pipDigits) << what;
        EXPECT_EQ(s.pipTolerance, c.pipSize * 0.9) << what;
        EXPECT_EQ(s.dspPoints, c.dsp) << what;
        EXPECT_EQ(s.dcloseSpPoints, c.dcloseSp) << what;
    }
}

TEST(CalibrateInstrument, PointCountsForOtherDigitGaps)
{
    // A negative gap truncates to 0; a gap of 9 overflows the int.
    EngineState s = Fed(150);
    s.pipFactor = 1;
    s.hostDigits = 0;  // pipDigits -1 with a USD account: gap 1
    IniAll(s, "", "USD");
    EXPECT_EQ(s.dspPoints, 20);
    s.hostDigits = 1;
    IniAll(s, "", "EUR");  // keeps pipDigits 0: gap 1
    EXPECT_EQ(s.dspPoints, 20);
    s.hostDigits = INT32_MIN;  // pipDigits wraps to INT32_MAX: gap 1 again
    IniAll(s, "", "USD");
    EXPECT_EQ(s.pipDigits, INT32_MAX);
    EXPECT_EQ(s.dspPoints, 20);
}

TEST(CalibrateInstrument, ProfilesMatchAsCaseSensitiveSubstrings)
{
    const struct {
        const char* symbol;
        int32_t takeProfit, stopLoss, wprPeriod2, matched;
    } cases[] = {
        {"EURUSD", 24, 200, 17, 1},    {"EURUSD.m", 24, 200, 17, 1},   {"xEURUSD", 24, 200, 17, 1},
        {"eurusd", 10, 100, 16, 0},    {"EURUS", 10, 100, 16, 0},      {nullptr, 10, 100, 16, 0},
        {"NZDCAD", 56, 100, 19, 1},    // the last row
        {"USDJPYEURUSD", 32, 140, 20, 1},  // table order decides, not text order: row 4 after row 1
        {"GBPUSDCHF", 42, 150, 11, 1},     // GBPUSD then USDCHF
    };
    for (const auto& c : cases) {
        EngineState s = Fed(150);
        IniAll(s, c.symbol, "USD");
        const char* what = c.symbol ? c.symbol : "null";
        EXPECT_EQ(s.takeProfitPips, c.takeProfit) << what;
        EXPECT_EQ(s.stopLossPips, c.stopLoss) << what;
        EXPECT_EQ(s.wprPeriod2, c.wprPeriod2) << what;
        EXPECT_EQ(s.profileMatched, c.matched) << what;
    }
}

TEST(CalibrateInstrument, EveryProfileIsStoredAsItStands)
{
    for (const InstrumentProfile& p : InstrumentProfiles) {
        EngineState s = Fed(150);
        IniAll(s, (std::string("pre.") + p.code + ".post").c_str(), "USD");
        EXPECT_EQ(s.takeProfitPips, p.takeProfitPips) << p.code;
        EXPECT_EQ(s.stopLossPips, p.stopLossPips) << p.code;
        EXPECT_EQ(s.hhh1, p.hhh1) << p.code;
        EXPECT_EQ(s.hhh2, std::max(p.hhh2, 4)) << p.code;
        EXPECT_EQ(s.closeLossPips, p.closeLossPips) << p.code;
        EXPECT_EQ(s.smmaPeriod, p.smmaPeriod) << p.code;
        EXPECT_EQ(s.wprPeriod, p.wprPeriod) << p.code;
        EXPECT_EQ(s.wprPeriod2, p.wprPeriod) << p.code;
        EXPECT_EQ(s.cciPeriod, p.cciPeriod) << p.code;
        EXPECT_EQ(s.atrPeriod, 14) << p.code;
        EXPECT_EQ(s.smmaGapPips1, p.smmaGapPips1) << p.code;
        EXPECT_EQ(s.smmaGapPips2, p.smmaGapPips2) << p.code;
        EXPECT_EQ(s.minAtrPips, p.minAtrPips) << p.code;
        EXPECT_EQ(s.cciLevel, p.cciLevel) << p.code;
        EXPECT_EQ(s.wprBuyLevel1, p.wprLevel1) << p.code;
        EXPECT_EQ(s.wprSellLevel2, -100 - p.wprLevel2) << p.code;
        EXPECT_EQ(s.wprSellLevel3, -100 - p.wprLevel3) << p.code;
        EXPECT_EQ(s.closeProfitPips, p.closeProfitPips) << p.code;
        EXPECT_EQ(s.profileMatched, 1) << p.code;
    }
}

TEST(CalibrateInstrument, NothingChangesBeforeTheFirstBars)
{
    EngineState s = Fed(150);
    s.pipFactor = 0;
    s.takeProfitPips = 77;
    s.pipSize = 0.5;
    const EngineState before = s;
    EXPECT_EQ(IniAll(s, "EURUSD", "USD"), 0);
    EXPECT_EQ(s.takeProfitPips, before.takeProfitPips);
    EXPECT_EQ(s.pipSize, before.pipSize);
    EXPECT_EQ(s.profileMatched, before.profileMatched);
}

TEST(CalibrateInstrument, EveryCallRewritesEveryField)
{
    EngineState s = Fed(150);
    IniAll(s, "EURUSD", "USD");
    IniAll(s, "", "USD");
    const EngineState fresh = Calibrated(150, "");
    EXPECT_EQ(s.takeProfitPips, fresh.takeProfitPips);
    EXPECT_EQ(s.wprPeriod2, fresh.wprPeriod2);
    EXPECT_EQ(s.atrPeriod, fresh.atrPeriod);
    EXPECT_EQ(s.profileMatched, 0);
}

}  // namespace
}  // namespace torvik
