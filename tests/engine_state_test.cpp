#include "engine/engine_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "calibration/calibration.h"
#include "support/fixtures.h"
#include "support/state_compare.h"

namespace torvik {
namespace {

// Taken during static initialisation, before any test touches the record.
const EngineState StateAtLoad = engineState;

TEST(EngineState, ZeroAtLoadExceptTheTwoConstants)
{
    EngineState expected;
    std::memset(&expected, 0, sizeof expected);
    expected.twoConstant = 2.0;
    expected.threeConstant = 3.0;
    EXPECT_EQ(testing::DifferingFields(StateAtLoad, expected), "");
    EXPECT_EQ(testing::DifferingFields(EngineState{}, expected), "");
}

TEST(Getters, AnswerZeroBeforeCalibration)
{
    const EngineState s{};
    EXPECT_EQ(PoTP(s), 0.0);
    EXPECT_EQ(PoSL(s), 0.0);
    EXPECT_EQ(Dpp(s), 0.0);
    EXPECT_EQ(DSP(s), 0);
    EXPECT_EQ(DCloseSP(s), 0);
    EXPECT_EQ(HHH_1(s), 0);
    EXPECT_EQ(HHH_2(s), 0);
}

TEST(Getters, DistancesRoundToThePipDigits)
{
    EngineState s{};
    s.takeProfitPips = 24;
    s.stopLossPips = 200;
    s.pipSize = 0.0001;
    s.pipDigits = 4;
    EXPECT_EQ(PoTP(s), 24.0 * 0.0001);
    EXPECT_EQ(PoSL(s), 200.0 * 0.0001);
    s.pipDigits = 10;
    EXPECT_TRUE(std::isnan(PoTP(s)));
    s.takeProfitPips = 0;
    EXPECT_EQ(PoTP(s), 0.0);
    s.pipSize = 0.123456;  // Dpp is not rounded
    EXPECT_EQ(Dpp(s), 0.123456);
}

TEST(Rews, ClearsCalibrationAndInputsButKeepsSeriesAndModeFields)
{
    using namespace testing;
    EngineState s{};
    Feed(s, Trend(150, 1.1, 0.0002, 0.0005), Market{1.2, 1.2001, 5, 0.00001, 1.15, 0, 4});
    IniAll(s, "EURUSD", "USD");
    s.buyEntryAllowed = 1;
    s.sellEntryAllowed = 1;
    const EngineState before = s;
    ASSERT_EQ(s.profileMatched, 1);
    ASSERT_NE(s.spreadPoints, 0);

    EXPECT_EQ(rews(s), 0);

    EXPECT_EQ(std::memcmp(s.closeSeries, before.closeSeries, sizeof s.closeSeries), 0);
    EXPECT_EQ(std::memcmp(s.typicalSeries, before.typicalSeries, sizeof s.typicalSeries), 0);
    EXPECT_EQ(s.twoConstant, 2.0);
    EXPECT_EQ(s.threeConstant, 3.0);
    EXPECT_EQ(s.buyEntryAllowed, 1);
    EXPECT_EQ(s.sellEntryAllowed, 1);
    EXPECT_EQ(s.profileMatched, 1);
    EXPECT_EQ(s.spreadPoints, before.spreadPoints);
    EXPECT_EQ(s.pipFactor, before.pipFactor);

    // Everything else is zero: compare with a record that holds only what survives.
    EngineState expected{};
    std::memcpy(expected.typicalSeries, before.typicalSeries, sizeof expected.typicalSeries);
    std::memcpy(expected.openSeries, before.openSeries, sizeof expected.openSeries);
    std::memcpy(expected.medianSeries, before.medianSeries, sizeof expected.medianSeries);
    std::memcpy(expected.closeSeries, before.closeSeries, sizeof expected.closeSeries);
    std::memcpy(expected.weightedSeries, before.weightedSeries, sizeof expected.weightedSeries);
    std::memcpy(expected.lowSeries, before.lowSeries, sizeof expected.lowSeries);
    std::memcpy(expected.volumeSeries, before.volumeSeries, sizeof expected.volumeSeries);
    std::memcpy(expected.highSeries, before.highSeries, sizeof expected.highSeries);
    expected.buyEntryAllowed = 1;
    expected.sellEntryAllowed = 1;
    expected.profileMatched = 1;
    expected.spreadPoints = before.spreadPoints;
    expected.pipFactor = before.pipFactor;
    EXPECT_EQ(testing::DifferingFields(s, expected), "");

    EXPECT_EQ(PoTP(s), 0.0);
    EXPECT_EQ(PoSL(s), 0.0);
    EXPECT_EQ(Dpp(s), 0.0);
    EXPECT_EQ(HHH_2(s), 0);
}

}  // namespace
}  // namespace torvik
