// The costs of trading on hand-made bars, with the library's answers
// scripted: the commission (round turn and per side), the swap at the
// daily rollover (over a weekend, on the triple day, in points and in
// money, at another rollover hour), slippage on each kind of fill (fixed
// and drawn from its seeded generator), the broker's stop level (moved out
// or refused, and the broker's own refusal) and its freeze level. Every
// expected number is worked out in the comments.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scenario.h"
#include "tester/market/costs.h"

namespace torvik::tester {
namespace {

using testing::Collected;
using testing::RunScripted;
using testing::Scenario;
using testing::Script;

// EURUSD at 1.10000, 10 points of spread: a buy of 0.1 lot opens at the ask
// 1.10010; one point is worth 0.10.
Scenario Flat(size_t hours)
{
    Scenario scenario(1.10000);
    for (size_t i = 0; i < hours; ++i) scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
    return scenario;
}

TEST(Commission, ChargedInFullWhenThePositionOpens)
{
    struct Case {
        CommissionPer per;
        double charged;  // 0.1 lot at 7.00 a lot: once, or once a side
    };
    for (const Case& c : {Case{CommissionPer::RoundTurn, -0.70}, Case{CommissionPer::Side, -1.40}}) {
        SCOPED_TRACE(CommissionPerName(c.per));
        Scenario scenario = Flat(3);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.close[{Scenario::TimeOf(2), 0}] = 1;
        TestSettings s = testing::EurusdSettings();
        s.commission = 7.0;
        s.commissionPer = c.per;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        const Trade& t = r.trades[0];
        EXPECT_DOUBLE_EQ(t.commission, c.charged);
        EXPECT_DOUBLE_EQ(t.profit, -1.00);  // the spread
        EXPECT_DOUBLE_EQ(t.balance, 10000.0 - 1.00 + c.charged);
        // The balance shows it from the entry bar on, before the close.
        ASSERT_GE(r.equity.size(), 2u);
        EXPECT_DOUBLE_EQ(r.equity[0].balance, 10000.0 + c.charged);
        EXPECT_DOUBLE_EQ(r.outcome.figures.totalCommission, c.charged);
        EXPECT_DOUBLE_EQ(r.outcome.figures.totalNetProfit, -1.00 + c.charged);
    }
}

// The test starts on Friday 2024.01.05 01:00 (the scenario's history is 97
// hours from Monday 2024.01.01 00:00). A position opened then and closed
// later pays the rollovers in between: at hour 0 the one of Saturday 00:00
// ends Friday (1 night), Sunday's and Monday's end the weekend (none),
// Tuesday's and Wednesday's end Monday and Tuesday (1 each) and Thursday's
// ends Wednesday, the triple day (3).
TEST(Swap, NightsOverTheWeekendAndTheTripleDay)
{
    struct Case {
        const char* name;
        const char* symbol;
        double price;
        int32_t digits;
        Side side;
        double rate;
        SwapUnit unit;
        int32_t hour;       // of the rollover
        size_t closeHour;   // hours after the test's start
        double swap;
    };
    const Case cases[] = {
        // Closed on Wednesday 23:00: Sat 1 + Sun 0 + Mon 0 + Tue 1 + Wed 1 = 3
        // nights of 0.1 x -7 points x 0.00001 x 100,000 = -0.70.
        {"points, to Wednesday night", "EURUSD", 1.10000, 5, Side::Buy, -7.0, SwapUnit::Points, 0, 142, -2.10},
        // Closed on Thursday 01:00, after Wednesday's triple: 6 nights.
        {"points, past the triple day", "EURUSD", 1.10000, 5, Side::Buy, -7.0, SwapUnit::Points, 0, 144, -4.20},
        // A sell pays the short rate: 6 x 0.1 x 2 points = +1.20.
        {"short rate", "EURUSD", 1.10000, 5, Side::Sell, 2.0, SwapUnit::Points, 0, 144, 1.20},
        // Money: 0.1 lot x -5.00 a night, 6 nights.
        {"money", "EURUSD", 1.10000, 5, Side::Buy, -5.0, SwapUnit::Money, 0, 144, -3.00},
        // At 22:00 the rollover ends the same day: Friday 22:00 (1), Saturday's
        // and Sunday's (none), Monday's and Tuesday's (1 each) and Wednesday
        // 22:00, the triple day, before the close at 23:00: 6 nights.
        {"rollover at 22:00", "EURUSD", 1.10000, 5, Side::Buy, -7.0, SwapUnit::Points, 22, 142, -4.20},
        // USDJPY in USD: 0.1 x 12 points x 0.001 x 100,000 = 120 yen a night,
        // divided by the bid 150.000 the buy would close at: 0.80; 6 nights.
        {"points converted like a profit", "USDJPY", 150.000, 3, Side::Buy, 12.0, SwapUnit::Points, 0, 144, 4.80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(c.price);
        for (size_t i = 0; i <= c.closeHour; ++i) scenario.Add(c.price, c.price, c.price, c.price);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = c.side == Side::Buy ? 1 : 2;
        script.close[{Scenario::TimeOf(c.closeHour), 0}] = c.side == Side::Buy ? 1 : 2;
        TestSettings s = testing::EurusdSettings();
        s.symbol = c.symbol;
        s.digits = c.digits;
        s.point = std::pow(10.0, -c.digits);
        s.swapLong = c.side == Side::Buy ? c.rate : 0.0;
        s.swapShort = c.side == Side::Sell ? c.rate : 0.0;
        s.swapUnit = c.unit;
        s.rolloverHour = c.hour;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        const Trade& t = r.trades[0];
        EXPECT_EQ(t.reason, CloseReason::Signal);
        EXPECT_NEAR(t.swap, c.swap, 1e-9);
        EXPECT_NEAR(t.balance, 10000.0 + t.profit + c.swap, 1e-9);
        EXPECT_NEAR(r.outcome.figures.totalSwap, c.swap, 1e-9);
    }
}

// The swap accrues in the equity at once, before the close realises it.
TEST(Swap, AccruesInTheEquity)
{
    Scenario scenario = Flat(30);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    TestSettings s = testing::EurusdSettings();
    s.swapLong = -7.0;
    const Collected r = RunScripted(script, scenario, s);
    // Friday 01:00 + 23 hours is Saturday 00:00, the first rollover (-0.70);
    // the bar before it has none. Equity = balance - spread - swap.
    ASSERT_GT(r.equity.size(), 25u);
    EXPECT_NEAR(r.equity[22].equity, 10000.0 - 1.00, 1e-9);
    EXPECT_NEAR(r.equity[23].equity, 10000.0 - 1.00 - 0.70, 1e-9);
    EXPECT_NEAR(r.equity[23].balance, 10000.0, 1e-9);
}

TEST(Rollover, CalendarOfNights)
{
    const auto at = [](int32_t year, int32_t month, int32_t day, int32_t hour) {
        return int64_t{*ToBarTime(CivilTime{year, month, day, hour, 0, 0})} * 1000;
    };
    struct Case {
        int64_t rollover;
        int32_t triple;
        int32_t nights;
    };
    const Case cases[] = {
        {at(2024, 1, 6, 0), 3, 1},   // Saturday 00:00 ends Friday
        {at(2024, 1, 7, 0), 3, 0},   // ends Saturday
        {at(2024, 1, 8, 0), 3, 0},   // ends Sunday
        {at(2024, 1, 4, 0), 3, 3},   // Thursday 00:00 ends Wednesday, the triple day
        {at(2024, 1, 3, 22), 3, 3},  // Wednesday 22:00 ends Wednesday
        {at(2024, 1, 4, 0), 5, 1},   // triple on Friday: Wednesday is one night
        {at(2024, 1, 6, 0), 5, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(NightsAt(c.rollover, c.triple), c.nights) << FormatTickTime(c.rollover, false);
    // The next rollover is strictly after the time given.
    EXPECT_EQ(NextRolloverMs(at(2024, 1, 5, 1), 0), at(2024, 1, 6, 0));
    EXPECT_EQ(NextRolloverMs(at(2024, 1, 6, 0), 0), at(2024, 1, 7, 0));
    EXPECT_EQ(NextRolloverMs(at(2024, 1, 5, 1), 22), at(2024, 1, 5, 22));
}

// Slippage of 3 points against the trader. The levels are the expert's,
// from the quote it saw (take-profit 1.10060, stop-loss 1.09910); a buy
// fills at the ask 1.10010 + 3 points = 1.10013.
TEST(Slippage, FixedOnEachKindOfFill)
{
    struct Case {
        const char* name;
        int32_t side;  // the entry answer
        std::vector<std::vector<double>> bars;
        int32_t closeSignal;  // answered at the second bar's first tick, or 0
        double openPrice;
        CloseReason reason;
        double closePrice;
        double profit;
    };
    const Case cases[] = {
        // A take-profit is a limit order: it fills at its level.
        {"take-profit", 1, {{1.10000, 1.10070, 1.09950, 1.10020}}, 0, 1.10013, CloseReason::TakeProfit, 1.10060, 4.70},
        // A stop-loss slips: 1.09910 - 3 points.
        {"stop-loss", 1, {{1.10000, 1.10040, 1.09900, 1.09950}}, 0, 1.10013, CloseReason::StopLoss, 1.09907, -10.60},
        // Jumped over: the new open 1.09800 - 3 points.
        {"stop-loss in a gap", 1, {{1.10000, 1.10030, 1.09950, 1.09980}, {1.09800, 1.09850, 1.09700, 1.09750}}, 0,
         1.10013, CloseReason::StopLoss, 1.09797, -21.60},
        // A close at the market: the bid 1.10000 - 3 points.
        {"close signal", 1, {{1.10000, 1.10000, 1.10000, 1.10000}, {1.10000, 1.10000, 1.10000, 1.10000}}, 1, 1.10013,
         CloseReason::Signal, 1.09997, -1.60},
        // The end of the test closes where the price is.
        {"end of test", 1, {{1.10000, 1.10000, 1.10000, 1.10000}}, 0, 1.10013, CloseReason::EndOfTest, 1.10000, -1.30},
        // A sell fills at the bid 1.10000 - 3 points, and closes at the ask.
        {"sell entry", 2, {{1.10000, 1.10000, 1.10000, 1.10000}}, 0, 1.09997, CloseReason::EndOfTest, 1.10010, -1.30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(1.10000);
        for (const std::vector<double>& b : c.bars) scenario.Add(b[0], b[1], b[2], b[3]);
        scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = c.side;
        if (c.closeSignal != 0) script.close[{Scenario::TimeOf(1), 0}] = c.closeSignal;
        script.takeProfit = 0.00050;
        script.stopLoss = 0.00100;
        TestSettings s = testing::EurusdSettings();
        s.slippageMin = s.slippageMax = 3;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        const Trade& t = r.trades[0];
        EXPECT_DOUBLE_EQ(t.openPrice, c.openPrice);
        EXPECT_EQ(t.reason, c.reason);
        EXPECT_DOUBLE_EQ(t.closePrice, c.closePrice);
        EXPECT_DOUBLE_EQ(t.profit, c.profit);
        if (c.side == 1) {
            EXPECT_DOUBLE_EQ(t.takeProfit, 1.10060);
            EXPECT_DOUBLE_EQ(t.stopLoss, 1.09910);
        }
    }
}

// A stop-out slips too. A buy of 5 lots at about 1.10010 needs 5,500 of
// margin; the gap to the bid 1.08500 loses about 7,560, leaving an equity
// below half the margin: it closes there, 3 points lower with slippage.
TEST(Slippage, StopOutClosesLower)
{
    for (const int32_t slip : {0, 3}) {
        Scenario scenario(1.10000);
        scenario.AddTicks({{0.0, 1.10000, 1.10010}});
        scenario.AddTicks({{0.0, 1.10000, 1.10010}, {1000.0, 1.08500, 1.08510}});
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.lots = 5.0;
        TestSettings s = testing::EurusdSettings();
        s.model = Model::Ticks;
        s.slippageMin = s.slippageMax = slip;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
        // The gap's new bid is the price of the stop-out.
        EXPECT_NEAR(r.trades[0].closePrice, 1.08500 - slip * 0.00001, 1e-12);
        EXPECT_FALSE(r.outcome.emptied);
    }
}

TEST(Slippage, RandomIsSeededAndWithinItsRange)
{
    // SplitMix64's first output for seed 0, as published with the generator.
    SplitMix64 g(0);
    EXPECT_EQ(g.Next(), 0xe220a8397b1dcdafull);

    const auto run = [](uint64_t seed) {
        Scenario scenario = Flat(60);
        Script script;
        script.openEverywhere = 1;
        script.takeProfit = 0.0;
        TestSettings s = testing::EurusdSettings();
        s.maxPositions = 1;
        s.slippageMin = 1;
        s.slippageMax = 4;
        s.seed = seed;
        // Close every buy at each bar's first tick, then buy again.
        for (size_t h = 1; h < 60; ++h) script.close[{Scenario::TimeOf(h), 0}] = 1;
        return RunScripted(script, scenario, s);
    };
    const Collected a = run(1), b = run(1), c = run(2);
    ASSERT_GT(a.trades.size(), 50u);
    std::set<int64_t> seen;
    std::vector<double> pa, pc;
    for (size_t i = 0; i < a.trades.size(); ++i) {
        const Trade& t = a.trades[i];
        EXPECT_EQ(t.openPrice, b.trades[i].openPrice);
        EXPECT_EQ(t.closePrice, b.trades[i].closePrice);
        const int64_t entry = std::llround((t.openPrice - 1.10010) / 0.00001);
        EXPECT_GE(entry, 1);
        EXPECT_LE(entry, 4);
        seen.insert(entry);
        pa.push_back(t.openPrice);
        pc.push_back(c.trades[i].openPrice);
    }
    EXPECT_EQ(seen.size(), 4u) << "every whole point of 1 to 4 drawn in 50 entries";
    EXPECT_NE(pa, pc) << "another seed draws otherwise";
}

// The stop level: the take-profit 1.10015 lies 15 points above the bid the
// buy would close at; the broker needs 20.
TEST(StopLevel, TooCloseIsMovedOutOrNotSent)
{
    for (const StopsTooClose mode : {StopsTooClose::Move, StopsTooClose::Refuse}) {
        Scenario scenario = Flat(2);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.takeProfit = 0.00005;
        script.stopLoss = 0.00100;
        TestSettings s = testing::EurusdSettings();
        s.stopLevel = 20;
        s.stopsTooClose = mode;
        const Collected r = RunScripted(script, scenario, s);
        if (mode == StopsTooClose::Move) {
            ASSERT_EQ(r.trades.size(), 1u);
            EXPECT_DOUBLE_EQ(r.trades[0].takeProfit, 1.10020);  // the bid + 20 points
            EXPECT_DOUBLE_EQ(r.trades[0].stopLoss, 1.09910);    // 90 points away: as it was
            EXPECT_EQ(r.trades[0].note,
                      "take-profit 1.10015 was 15 points from the bid 1.10000 and the broker needs 20: moved out to "
                      "1.10020");
        } else {
            EXPECT_TRUE(r.trades.empty());
            ASSERT_EQ(r.outcome.tally.refusals.size(), 1u);
            EXPECT_EQ(r.outcome.tally.refusals[0].code, 0);
            EXPECT_EQ(r.outcome.tally.refusals[0].text,
                      "not sent: its take-profit 1.10015 is 15 points from the bid 1.10000 and the broker needs 20");
            EXPECT_EQ(r.outcome.tally.tooClose[0], 1u);
        }
    }
}

class NoObserver : public BrokerObserver {
public:
    void OnTrade(const Trade&) override {}
    void OnEquity(int64_t, double) override {}
};

// The broker checks levels itself and refuses with the terminal's code.
TEST(StopLevel, BrokerRefusesLevelsInsideIt)
{
    TestSettings s = testing::EurusdSettings();
    s.stopLevel = 20;
    NoObserver observer;
    Account account(s, observer);
    account.SetQuote(0, Quote{1.10000, 1.10010});
    struct Case {
        Side side;
        double takeProfit, stopLoss;
        int32_t code;
    };
    const Case cases[] = {
        {Side::Buy, 1.10019, 0.0, ErrInvalidStops},   // 19 points above the bid
        {Side::Buy, 1.10020, 1.09980, 0},             // 20 points each side
        {Side::Buy, 0.0, 1.09981, ErrInvalidStops},
        {Side::Sell, 1.09991, 0.0, ErrInvalidStops},  // 19 points below the ask
        {Side::Sell, 1.09990, 1.10030, 0},
        {Side::Sell, 0.0, 1.10000, ErrInvalidStops},  // on the wrong side of the ask
    };
    for (const Case& c : cases) {
        OrderLevels levels;
        levels.takeProfit = c.takeProfit;
        levels.stopLoss = c.stopLoss;
        EXPECT_EQ(account.Open(0, c.side, 0.1, levels, 0), c.code) << c.takeProfit << " " << c.stopLoss;
    }
    EXPECT_EQ(account.Positions().size(), 2u);
}

// The freeze level: a buy whose take-profit 1.10060 is 40 points above the
// bid 1.10020 cannot be closed with a freeze level of 50; it stays and its
// take-profit fills later.
TEST(FreezeLevel, CloseInsideItIsRefused)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000)
        .Add(1.10020, 1.10020, 1.10020, 1.10020)
        .Add(1.10000, 1.10070, 1.10000, 1.10000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.close[{Scenario::TimeOf(1), 0}] = 1;
    script.takeProfit = 0.00050;
    TestSettings s = testing::EurusdSettings();
    s.freezeLevel = 50;
    const Collected r = RunScripted(script, scenario, s);
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].reason, CloseReason::TakeProfit);
    ASSERT_EQ(r.outcome.tally.refusals.size(), 1u);
    EXPECT_EQ(r.outcome.tally.refusals[0].code, ErrTooCloseToMarket);
    EXPECT_EQ(r.outcome.tally.refusals[0].ticket, 1);
    // Without the freeze level the close goes through at the bid.
    s.freezeLevel = 0;
    Script again = script;
    const Collected free = RunScripted(again, scenario, s);
    ASSERT_EQ(free.trades.size(), 1u);
    EXPECT_EQ(free.trades[0].reason, CloseReason::Signal);
    EXPECT_DOUBLE_EQ(free.trades[0].closePrice, 1.10020);
}

}  // namespace
}  // namespace torvik::tester
