// The expert advisor's side of every call, checked through a scripted
// library: what Rft receives on each tick (never a price the tick has not
// seen), when the questions are asked, and what LOT is told.
#include <vector>

#include <gtest/gtest.h>

#include "scenario.h"

namespace torvik::tester {
namespace {

using testing::Collected;
using testing::HourTime;
using testing::RftCall;
using testing::RunScripted;
using testing::Scenario;
using testing::Script;

// The packed record's fields are copied out before the comparisons take
// them by reference.
void ExpectBar(const BarRecord& got, uint32_t time, double open, double high, double low, double close,
               double volume)
{
    const uint32_t t = got.time;
    const double o = got.open, h = got.high, l = got.low, c = got.close, v = got.volume;
    EXPECT_EQ(t, time);
    EXPECT_DOUBLE_EQ(o, open);
    EXPECT_DOUBLE_EQ(h, high);
    EXPECT_DOUBLE_EQ(l, low);
    EXPECT_DOUBLE_EQ(c, close);
    EXPECT_DOUBLE_EQ(v, volume);
}

TEST(Advisor, OpenModeHandsTheWindowOldestFirstWithTheNewestBarAtItsOpen)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10070, 1.09950, 1.10020).Add(1.10020, 1.10100, 1.10000, 1.10050);
    Script script;
    const Collected r = RunScripted(script, scenario, testing::EurusdSettings());
    EXPECT_EQ(script.resets, 1);
    EXPECT_EQ(r.outcome.ticks, 2u);
    ASSERT_EQ(script.rft.size(), 2u);

    const RftCall& first = script.rft[0];
    EXPECT_EQ(first.barCount, MinWindow);
    ASSERT_EQ(first.bars.size(), static_cast<size_t>(MinWindow));
    EXPECT_TRUE(first.sameArrays);
    const uint32_t oldest = first.bars.front().time;
    EXPECT_EQ(oldest, HourTime(0));
    ExpectBar(first.bars.back(), Scenario::TimeOf(0), 1.10000, 1.10000, 1.10000, 1.10000, 1.0);
    EXPECT_DOUBLE_EQ(first.bid, 1.10000);
    EXPECT_DOUBLE_EQ(first.ask, 1.10010);
    EXPECT_EQ(first.digits, 5);
    EXPECT_DOUBLE_EQ(first.point, 0.00001);
    EXPECT_EQ(first.pipMode, 4);
    EXPECT_DOUBLE_EQ(first.positionOpenPrice, 0.0);
    EXPECT_EQ(first.positionType, 0);

    // One bar later the window has moved on by one and the bar before the
    // newest is complete.
    const RftCall& second = script.rft[1];
    const uint32_t oldestNext = second.bars.front().time;
    EXPECT_EQ(oldestNext, HourTime(1));
    ExpectBar(second.bars[second.bars.size() - 2], Scenario::TimeOf(0), 1.10000, 1.10070, 1.09950, 1.10020, 100.0);
    ExpectBar(second.bars.back(), Scenario::TimeOf(1), 1.10020, 1.10020, 1.10020, 1.10020, 1.0);
    EXPECT_DOUBLE_EQ(second.bid, 1.10020);
}

TEST(Advisor, DecidingOnEveryTickShowsTheNewestBarAsFarAsItHasFormed)
{
    Scenario scenario(1.10000);
    // The low is nearer the open (50 points against 70): open, low, high, close.
    scenario.Add(1.10000, 1.10070, 1.09950, 1.10020);
    Script script;
    TestSettings s = testing::EurusdSettings();
    s.model = Model::Ohlc;
    s.cadence = Cadence::Tick;
    const Collected r = RunScripted(script, scenario, s);
    EXPECT_EQ(r.outcome.ticks, 4u);
    ASSERT_EQ(script.rft.size(), 4u);
    const uint32_t t = Scenario::TimeOf(0);
    ExpectBar(script.rft[0].bars.back(), t, 1.10000, 1.10000, 1.10000, 1.10000, 1.0);
    ExpectBar(script.rft[1].bars.back(), t, 1.10000, 1.10000, 1.09950, 1.09950, 2.0);
    ExpectBar(script.rft[2].bars.back(), t, 1.10000, 1.10070, 1.09950, 1.10070, 3.0);
    ExpectBar(script.rft[3].bars.back(), t, 1.10000, 1.10070, 1.09950, 1.10020, 4.0);
    const double bids[] = {1.10000, 1.09950, 1.10070, 1.10020};
    for (size_t k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(script.rft[k].bid, bids[k]);
}

// A buy from the first bar, a sell from the second; the exit answer for
// sells on the third closes the sell, and the library is fed again with the
// buy that is left.
TEST(Advisor, HandsTheNewestPositionAndFeedsAgainAfterAClose)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000)
        .Add(1.10050, 1.10050, 1.10050, 1.10050)
        .Add(1.10000, 1.10000, 1.10000, 1.10000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 2;
    script.close[{Scenario::TimeOf(2), 0}] = 2;
    const Collected r = RunScripted(script, scenario, testing::EurusdSettings());

    ASSERT_EQ(script.rft.size(), 4u);
    EXPECT_DOUBLE_EQ(script.rft[0].positionOpenPrice, 0.0);
    EXPECT_DOUBLE_EQ(script.rft[1].positionOpenPrice, 1.10010);  // the buy, at the ask
    EXPECT_EQ(script.rft[1].positionType, 0);
    EXPECT_DOUBLE_EQ(script.rft[2].positionOpenPrice, 1.10050);  // the sell, at the bid
    EXPECT_EQ(script.rft[2].positionType, 1);
    EXPECT_DOUBLE_EQ(script.rft[3].positionOpenPrice, 1.10010);  // fed again: the buy is left
    EXPECT_EQ(script.rft[3].positionType, 0);
    const uint32_t fedAgainAt = script.rft[3].bars.back().time;
    EXPECT_EQ(fedAgainAt, Scenario::TimeOf(2));
    // Both questions are asked on every tick.
    EXPECT_EQ(script.closeCalls, 3);
    EXPECT_EQ(script.openCalls, 3);

    ASSERT_EQ(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].side, Side::Sell);
    EXPECT_EQ(r.trades[0].reason, CloseReason::Signal);
    EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.10010);  // at the ask
    EXPECT_DOUBLE_EQ(r.trades[0].profit, 4.00);
    EXPECT_EQ(r.trades[1].side, Side::Buy);
    EXPECT_EQ(r.trades[1].reason, CloseReason::EndOfTest);
}

// The shipped expert decides once per chart bar, at its first tick, in every
// model; the broker still runs on every tick. With lower bars the chart bar
// handed over is the hour as far as it has formed, and the completed hour
// is the one built from its quarters.
TEST(Advisor, DecidingPerBarAsksOnceAtTheFirstTickInEveryModel)
{
    for (const Model model : {Model::Open, Model::Ohlc, Model::Lower}) {
        SCOPED_TRACE(ModelName(model));
        Scenario scenario(1.10000);
        if (model == Model::Lower) {
            scenario.AddQuarters({{1.10000, 1.10030, 1.09990, 1.10020},
                                  {1.10020, 1.10070, 1.10010, 1.10060},
                                  {1.10060, 1.10060, 1.09950, 1.09960},
                                  {1.09960, 1.10000, 1.09960, 1.10020}});
            scenario.AddQuarters({{1.10020, 1.10020, 1.10020, 1.10020}});
        } else {
            scenario.Add(1.10000, 1.10070, 1.09950, 1.10020).Add(1.10020, 1.10020, 1.10020, 1.10020);
        }
        Script script;
        TestSettings s = testing::EurusdSettings();
        s.model = model;
        const Collected r = RunScripted(script, scenario, s);
        const uint64_t ticks[] = {2, 8, 20};
        EXPECT_EQ(r.outcome.ticks, ticks[model == Model::Open ? 0 : model == Model::Ohlc ? 1 : 2]);
        ASSERT_EQ(script.rft.size(), 2u);
        EXPECT_EQ(script.openCalls, 2);
        ExpectBar(script.rft[0].bars.back(), Scenario::TimeOf(0), 1.10000, 1.10000, 1.10000, 1.10000, 1.0);
        const double volume = 100.0;  // the four quarters sum to the hour's
        ExpectBar(script.rft[1].bars[script.rft[1].bars.size() - 2], Scenario::TimeOf(0), 1.10000, 1.10070,
                  1.09950, 1.10020, volume);
        ExpectBar(script.rft[1].bars.back(), Scenario::TimeOf(1), 1.10020, 1.10020, 1.10020, 1.10020, 1.0);
        // The sink saw both chart bars of the test as built, each with its
        // row of equity.csv (and one after the final close).
        ASSERT_EQ(r.bars.size(), 2u);
        EXPECT_EQ(r.bars[0].time, Scenario::TimeOf(0));
        EXPECT_DOUBLE_EQ(r.bars[0].high, 1.10070);
        EXPECT_DOUBLE_EQ(r.bars[0].volume, 100.0);
        EXPECT_EQ(r.bars[0].parts, model == Model::Lower ? 4u : 1u);
        EXPECT_EQ(r.equity.size(), 3u);
    }
}

// The exit answer closes the newest position first, as the expert walks its
// orders from the last one: two buys, then the close of both.
TEST(Advisor, ClosesTheNewestPositionFirst)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000)
        .Add(1.10050, 1.10050, 1.10050, 1.10050)
        .Add(1.10100, 1.10100, 1.10100, 1.10100);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 1;
    script.close[{Scenario::TimeOf(2), 0}] = 1;
    const Collected r = RunScripted(script, scenario, testing::EurusdSettings());
    ASSERT_EQ(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].ticket, 2);  // bought at 1.10060: +4.00
    EXPECT_DOUBLE_EQ(r.trades[0].balance, 10004.00);
    EXPECT_EQ(r.trades[1].ticket, 1);  // bought at 1.10010: +9.00
    EXPECT_DOUBLE_EQ(r.trades[1].balance, 10013.00);
}

TEST(Advisor, OpensNoMoreThanTheMaximum)
{
    for (const int32_t most : {1, 3}) {
        Scenario scenario(1.10000);
        for (int32_t i = 0; i < 6; ++i) scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.openEverywhere = 1;
        TestSettings s = testing::EurusdSettings();
        s.maxPositions = most;
        const Collected r = RunScripted(script, scenario, s);
        EXPECT_EQ(script.openCalls, 6);
        ASSERT_EQ(r.trades.size(), static_cast<size_t>(most));
        for (int32_t i = 0; i < most; ++i) {
            EXPECT_EQ(r.trades[static_cast<size_t>(i)].openTimeMs, Scenario::MsOf(static_cast<size_t>(i)));
        }
    }
}

// LOT receives the options as they are, the contract size as its divisor,
// the free margin and the margin of one lot at the entry's price.
TEST(Advisor, AsksLotWithTheFreeMarginAndTheMarginOfOneLot)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000).Add(1.10050, 1.10050, 1.10050, 1.10050);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 2;
    TestSettings s = testing::EurusdSettings();
    s.fixedLot = 0.2;
    s.riskPercent = 3.0;
    s.riskMultiplier = 1.5;
    s.minLot = 0.02;
    s.maxLot = 50.0;
    s.lotStep = 0.02;
    s.riskSplit = 2;
    RunScripted(script, scenario, s);
    ASSERT_EQ(script.lot.size(), 2u);
    const testing::LotCall& a = script.lot[0];
    EXPECT_DOUBLE_EQ(a.fixedLot, 0.2);
    EXPECT_DOUBLE_EQ(a.riskPercent, 3.0);
    EXPECT_DOUBLE_EQ(a.riskMultiplier, 1.5);
    EXPECT_DOUBLE_EQ(a.minLot, 0.02);
    EXPECT_DOUBLE_EQ(a.maxLot, 50.0);
    EXPECT_DOUBLE_EQ(a.lotStep, 0.02);
    EXPECT_EQ(a.lotDivisor, 100000);
    EXPECT_EQ(a.riskSplit, 2);
    EXPECT_DOUBLE_EQ(a.accountFunds, 10000.0);
    EXPECT_NEAR(a.marginPerLot, 1100.10, 1e-9);  // at the ask 1.10010
    // With 0.1 lot bought at 1.10010 and the bid at 1.10050: equity 10,004,
    // margin 110.01; the sell's lot is priced at the bid.
    const testing::LotCall& b = script.lot[1];
    EXPECT_NEAR(b.accountFunds, 10004.0 - 110.01, 1e-9);
    EXPECT_NEAR(b.marginPerLot, 1100.50, 1e-9);
}

}  // namespace
}  // namespace torvik::tester
