// The broker on hand-made bars and ticks, with the library's answers
// scripted: fills of take-profit and stop-loss in the order the price
// reaches them, gaps, the spread, profit conversion, the stop-out where the
// margin level crosses its limit, the test ending when it leaves no money,
// levels dropped with a note, and each trade's excursions. Every expected
// number is worked out in the comments.
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scenario.h"

namespace torvik::tester {
namespace {

using testing::Collected;
using testing::RunScripted;
using testing::Scenario;
using testing::Script;

struct Fill {
    CloseReason reason;
    double price;
    double profit;
    size_t closeBar;  // bars after the history
};

struct FillCase {
    const char* name;
    std::vector<std::vector<double>> bars;  // open, high, low, close
    Fill open;                              // --model open
    Fill ohlc;                              // --model ohlc
};

// A buy of 0.1 lot at the first bar's open: bid 1.10000, ask 1.10010,
// take-profit 1.10060 (+50 points, +5.00), stop-loss 1.09910 (-100 points,
// -10.00). One point of 0.1 lot is worth 0.10.
const FillCase BuyFills[] = {
    {"take-profit inside the bar", {{1.10000, 1.10070, 1.09950, 1.10020}},
     {CloseReason::TakeProfit, 1.10060, 5.00, 0}, {CloseReason::TakeProfit, 1.10060, 5.00, 0}},
    {"take-profit touched exactly", {{1.10000, 1.10060, 1.09990, 1.10000}},
     {CloseReason::TakeProfit, 1.10060, 5.00, 0}, {CloseReason::TakeProfit, 1.10060, 5.00, 0}},
    {"stop-loss inside the bar", {{1.10000, 1.10040, 1.09900, 1.09950}},
     {CloseReason::StopLoss, 1.09910, -10.00, 0}, {CloseReason::StopLoss, 1.09910, -10.00, 0}},
    // The high is nearer the open (70 points against 100), so the ohlc path
    // reaches the take-profit first; with one tick the order is unknown and
    // the stop-loss is taken.
    {"both levels in one bar", {{1.10000, 1.10070, 1.09900, 1.10000}},
     {CloseReason::StopLoss, 1.09910, -10.00, 0}, {CloseReason::TakeProfit, 1.10060, 5.00, 0}},
    // A quiet bar, then one whose low is nearer its open (50 points against
    // 120): both ways the stop-loss comes first.
    {"both levels, the low nearer", {{1.10000, 1.10030, 1.09950, 1.10000}, {1.09950, 1.10070, 1.09900, 1.10000}},
     {CloseReason::StopLoss, 1.09910, -10.00, 1}, {CloseReason::StopLoss, 1.09910, -10.00, 1}},
    // Gaps: a level jumped over between two bars fills at the new open,
    // worse than the stop (-210 points) or better than the target (+90).
    {"gap through the stop-loss", {{1.10000, 1.10030, 1.09950, 1.09980}, {1.09800, 1.09850, 1.09700, 1.09750}},
     {CloseReason::StopLoss, 1.09800, -21.00, 1}, {CloseReason::StopLoss, 1.09800, -21.00, 1}},
    {"gap through the take-profit", {{1.10000, 1.10030, 1.09950, 1.09980}, {1.10100, 1.10150, 1.10050, 1.10100}},
     {CloseReason::TakeProfit, 1.10100, 9.00, 1}, {CloseReason::TakeProfit, 1.10100, 9.00, 1}},
};

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

class BuyFillTest : public ::testing::TestWithParam<std::tuple<FillCase, Model>> {};

TEST_P(BuyFillTest, ClosesWhereAndWhenWorkedOut)
{
    const auto& [c, model] = GetParam();
    Scenario scenario(1.10000);
    for (const std::vector<double>& b : c.bars) scenario.Add(b[0], b[1], b[2], b[3]);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.takeProfit = 0.00050;
    script.stopLoss = 0.00100;
    TestSettings s = testing::EurusdSettings();
    s.model = model;

    const Collected r = RunScripted(script, scenario, s);
    const Fill& want = model == Model::Open ? c.open : c.ohlc;
    ASSERT_EQ(r.trades.size(), 1u);
    const Trade& t = r.trades[0];
    EXPECT_EQ(t.side, Side::Buy);
    EXPECT_DOUBLE_EQ(t.openPrice, 1.10010);
    EXPECT_DOUBLE_EQ(t.takeProfit, 1.10060);
    EXPECT_DOUBLE_EQ(t.stopLoss, 1.09910);
    EXPECT_EQ(t.reason, want.reason);
    EXPECT_DOUBLE_EQ(t.closePrice, want.price);
    EXPECT_DOUBLE_EQ(t.profit, want.profit);
    EXPECT_DOUBLE_EQ(t.balance, 10000.0 + want.profit);
    EXPECT_EQ(t.closeTimeMs, Scenario::MsOf(want.closeBar));
    EXPECT_TRUE(t.note.empty()) << t.note;
}

INSTANTIATE_TEST_SUITE_P(Cases, BuyFillTest,
                         ::testing::Combine(::testing::ValuesIn(BuyFills),
                                            ::testing::Values(Model::Open, Model::Ohlc)),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param).name) + "_" +
                                                ModelName(std::get<1>(info.param));
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             }
                             return name;
                         });

// A sell opens at the bid and its levels are watched on the ask, ten points
// above the bid: bid 1.10000, take-profit 1.09950, stop-loss 1.10100.
TEST(Spread, SellLevelsAreReachedByTheAsk)
{
    struct Case {
        std::vector<double> bar;
        CloseReason reason;
        double price;
        double profit;
    };
    const Case cases[] = {
        // The bid's high 1.10095 stays below the stop, the ask's 1.10105 does not.
        {{1.10000, 1.10095, 1.09945, 1.10000}, CloseReason::StopLoss, 1.10100, -10.00},
        // The bid's low 1.09940 puts the ask at the take-profit exactly.
        {{1.10000, 1.10050, 1.09940, 1.10000}, CloseReason::TakeProfit, 1.09950, 5.00},
        // The bid's low 1.09945 leaves the ask 5 points short; the sell stays
        // open to the end and closes at the ask of the last tick.
        {{1.10000, 1.10050, 1.09945, 1.10000}, CloseReason::EndOfTest, 1.10010, -1.00},
    };
    for (const Model model : {Model::Open, Model::Ohlc}) {
        for (const Case& c : cases) {
            Scenario scenario(1.10000);
            scenario.Add(c.bar[0], c.bar[1], c.bar[2], c.bar[3]).Add(1.10000, 1.10000, 1.10000, 1.10000);
            Script script;
            script.open[{Scenario::TimeOf(0), 0}] = 2;
            script.takeProfit = 0.00050;
            script.stopLoss = 0.00100;
            TestSettings s = testing::EurusdSettings();
            s.model = model;
            const Collected r = RunScripted(script, scenario, s);
            ASSERT_EQ(r.trades.size(), 1u);
            EXPECT_EQ(r.trades[0].side, Side::Sell);
            EXPECT_DOUBLE_EQ(r.trades[0].openPrice, 1.10000);
            EXPECT_EQ(r.trades[0].reason, c.reason);
            EXPECT_DOUBLE_EQ(r.trades[0].closePrice, c.price);
            EXPECT_DOUBLE_EQ(r.trades[0].profit, c.profit);
        }
    }
}

// A buy closed by the exit answer at an unchanged bid loses exactly the spread.
TEST(Spread, RoundTripAtOnePriceCostsTheSpread)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10000, 1.10000, 1.10000).Add(1.10000, 1.10000, 1.10000, 1.10000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.close[{Scenario::TimeOf(1), 0}] = 1;
    const Collected r = RunScripted(script, scenario, testing::EurusdSettings());
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].reason, CloseReason::Signal);
    EXPECT_DOUBLE_EQ(r.trades[0].openPrice, 1.10010);
    EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.10000);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -1.00);  // 10 points of 0.1 lot
}

// A take-profit of 50 points on 0.1 lot (10,000 units of the base currency)
// in three account settings, and the margin of one lot handed to LOT.
TEST(ProfitConversion, QuoteBaseAndFixedRate)
{
    struct Case {
        const char* symbol;
        int32_t digits;
        double price;
        double takeProfit;
        Conversion conversion;
        double rate;
        const char* currency;
        double deposit;
        double profit;
        double marginPerLot;
    };
    const Case cases[] = {
        // EURUSD in USD: 0.00050 x 10,000 = 5.00; one lot at the ask 1.10010
        // needs 100,000 x 1.10010 / 100.
        {"EURUSD", 5, 1.10000, 0.00050, Conversion::Direct, 1.0, "USD", 10000.0, 5.00, 1100.10},
        // USDJPY in USD: 0.500 x 10,000 = 5,000 yen, divided by the closing
        // price 150.510: 33.2204 -> 33.22; one lot needs 100,000 / 100 dollars.
        {"USDJPY", 3, 150.000, 0.500, Conversion::DivideByPrice, 1.0, "USD", 10000.0, 33.22, 1000.0},
        // USDJPY in JPY: the 5,000 yen as they are; the margin in yen.
        {"USDJPY", 3, 150.000, 0.500, Conversion::Direct, 1.0, "JPY", 1500000.0, 5000.00, 150010.0},
        // EURGBP in USD at 1.25 dollars a pound: 5 pounds are 6.25; the
        // margin 100,000 x 0.85010 / 100 pounds are 1,062.625 dollars.
        {"EURGBP", 5, 0.85000, 0.00050, Conversion::FixedRate, 1.25, "USD", 10000.0, 6.25, 1062.625},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.symbol);
        const double point = c.digits == 5 ? 0.00001 : 0.001;
        Scenario scenario(c.price);
        scenario.Add(c.price, c.price + 2 * c.takeProfit, c.price - 10 * point, c.price);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.takeProfit = c.takeProfit;
        TestSettings s = testing::EurusdSettings();
        s.symbol = c.symbol;
        s.digits = c.digits;
        s.point = point;
        s.conversion = c.conversion;
        s.conversionRate = c.rate;
        s.currency = c.currency;
        s.deposit = c.deposit;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].reason, CloseReason::TakeProfit);
        EXPECT_DOUBLE_EQ(r.trades[0].profit, c.profit);
        ASSERT_EQ(script.lot.size(), 1u);
        EXPECT_NEAR(script.lot[0].marginPerLot, c.marginPerLot, 1e-9 * c.marginPerLot);
        EXPECT_DOUBLE_EQ(script.lot[0].accountFunds, c.deposit);
    }
}

// How a scenario is built for each model: chart-timeframe bars for open
// and ohlc, each hour as a 15-minute bar (plus a flat one) for lower.
void AddBar(Scenario& scenario, Model model, std::vector<double> b)
{
    if (model == Model::Lower) {
        scenario.AddQuarters({b, {b[3], b[3], b[3], b[3]}});
    } else {
        scenario.Add(b[0], b[1], b[2], b[3]);
    }
}

TestSettings WithModel(Model model)
{
    TestSettings s = testing::EurusdSettings();
    s.model = model;
    return s;
}

class ModelTest : public ::testing::TestWithParam<Model> {};

INSTANTIATE_TEST_SUITE_P(Models, ModelTest, ::testing::Values(Model::Open, Model::Ohlc, Model::Lower),
                         [](const auto& info) { return std::string(ModelName(info.param)); });

// A sell (ticket 1: stop-loss 1.10100 on the ask) and a buy (ticket 2:
// take-profit 1.10060 on the bid), then a bar that rises from 1.09990 to
// 1.10200. On a path the bid reaches 1.10060 (the buy's target) before
// 1.10090 (where the ask reaches the sell's stop): ticket 2 closes first.
// With one tick the adverse move comes first: the stop, then the target.
TEST_P(ModelTest, LevelsFillInTheOrderThePriceReachesThem)
{
    const Model model = GetParam();
    Scenario scenario(1.10000);
    AddBar(scenario, model, {1.10000, 1.10000, 1.10000, 1.10000});
    AddBar(scenario, model, {1.10000, 1.10000, 1.10000, 1.10000});
    AddBar(scenario, model, {1.10000, 1.10200, 1.09990, 1.10100});
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 2;
    script.open[{Scenario::TimeOf(1), 0}] = 1;
    script.takeProfit = 0.00050;
    script.stopLoss = 0.00100;
    const Collected r = RunScripted(script, scenario, WithModel(model));
    ASSERT_EQ(r.trades.size(), 2u);
    const bool path = model != Model::Open;
    const Trade& first = r.trades[0];
    const Trade& second = r.trades[1];
    EXPECT_EQ(first.ticket, path ? 2 : 1);
    EXPECT_EQ(first.reason, path ? CloseReason::TakeProfit : CloseReason::StopLoss);
    EXPECT_DOUBLE_EQ(first.closePrice, path ? 1.10060 : 1.10100);
    EXPECT_DOUBLE_EQ(first.balance, path ? 10005.00 : 9990.00);
    EXPECT_EQ(second.ticket, path ? 1 : 2);
    EXPECT_DOUBLE_EQ(second.balance, 9995.00);
}

// One lot bought at the first bar's open (ask 1.10010) on a small account at
// 1:500, in a bar that falls to 1.09000, then flat bars; a second buy is
// scripted for the bar after.
Collected OneLotThroughAFall(Script& script, Model model, double deposit, double stopOut)
{
    Scenario scenario(1.10000);
    AddBar(scenario, model, {1.10000, 1.10020, 1.09000, 1.09500});
    AddBar(scenario, model, {1.09500, 1.09500, 1.09500, 1.09500});
    AddBar(scenario, model, {1.09500, 1.09500, 1.09500, 1.09500});
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 1;
    script.lots = 1.0;
    TestSettings s = WithModel(model);
    s.deposit = deposit;
    s.leverage = 500;
    s.stopOutPercent = stopOut;
    return RunScripted(script, scenario, s);
}

// One lot bought at 1.10010 on a 1,000 deposit at 1:500 needs 220.02 of
// margin; below a 50 % margin level (equity under 110.01) the broker
// closes. Equity is 1,000 + (bid - 1.10010) x 100,000: at 1.09121 it is
// 111.00 (50.45 %), at 1.09120 110.00 (49.995 %). On a path that is the
// first grid price below the level; in the open model the level is crossed
// at 1.0912001, rounded towards the low to 1.09120. Either way -890.00, not
// the bar's low (-1,010.00).
TEST_P(ModelTest, StopOutClosesWhereTheMarginLevelCrosses)
{
    const Model model = GetParam();
    Script script;
    const Collected r = OneLotThroughAFall(script, model, 1000.0, 50.0);
    // The stop-out leaves 110.00: the second buy (needing 219.02) is refused.
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.outcome.tally.refusalCount, 1u);
    EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
    EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.09120);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -890.00);
    EXPECT_EQ(r.trades[0].closeTimeMs, Scenario::MsOf(0));
    EXPECT_FALSE(r.outcome.emptied);
    // The drawdown saw the equity at the stop-out, 110, after a peak of
    // 1,010 at the bar's high on a path (the open model has the high after
    // the adverse move: from the deposit of 1,000).
    EXPECT_NEAR(r.outcome.figures.maximalDrawdown, model == Model::Open ? 890.00 : 900.00, 1e-6);
}

// The same on a deposit of 1,000.50 with a stop-out level of 0: the equity
// must go below 0, which it does below 1.090095: on a path at the grid
// price 1.09009, in the open model at the crossing 1.090095 rounded down.
// The balance is -0.50: no money is left and the test ends there; the buy
// scripted for the next bar never comes.
TEST_P(ModelTest, StopOutThatLeavesNoMoneyEndsTheTest)
{
    Script script;
    const Collected r = OneLotThroughAFall(script, GetParam(), 1000.50, 0.0);
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
    EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.09009);
    EXPECT_DOUBLE_EQ(r.trades[0].balance, -0.50);
    EXPECT_TRUE(r.outcome.emptied);
    EXPECT_EQ(r.outcome.endedAtMs, Scenario::MsOf(0));
    EXPECT_EQ(script.openCalls, 1);
}

// Two lots bought at 1.10010 and 1.09510 (margins 220.02 and 219.02) on
// 2,000. Equity is 2,000 + (2 x bid - 2.19520) x 100,000, below 219.52 (50 %
// of 439.04) from 1.0886976 down: at 1.08869, 218.00. The worse position
// (ticket 1, -1,141.00) closes; the other, at -641.00 on a balance of
// 859.00, is at 99.5 % and survives to the end at 1.09000 (-510.00).
TEST_P(ModelTest, StopOutClosesTheMostLosingPositionFirstAndOnlyAsMuchAsNeeded)
{
    const Model model = GetParam();
    Scenario scenario(1.10000);
    AddBar(scenario, model, {1.10000, 1.10020, 1.09500, 1.09500});
    AddBar(scenario, model, {1.09500, 1.09500, 1.08835, 1.09000});
    AddBar(scenario, model, {1.09000, 1.09000, 1.09000, 1.09000});
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 1;
    script.lots = 1.0;
    TestSettings s = WithModel(model);
    s.deposit = 2000.0;
    s.leverage = 500;
    const Collected r = RunScripted(script, scenario, s);
    ASSERT_EQ(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].ticket, 1);
    EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
    EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.08869);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -1141.00);
    EXPECT_DOUBLE_EQ(r.trades[0].balance, 859.00);
    EXPECT_EQ(r.trades[1].ticket, 2);
    EXPECT_EQ(r.trades[1].reason, CloseReason::EndOfTest);
    EXPECT_DOUBLE_EQ(r.trades[1].profit, -510.00);
    EXPECT_DOUBLE_EQ(r.trades[1].balance, 349.00);
}

// A buy of 0.1 lot at 1.10010 lives through a bar from 1.09950 to 1.10040
// and ends at 1.10020: its worst bid -6.00, its best +3.00, its profit +1.00.
TEST_P(ModelTest, ExcursionsAreTheWorstAndBestAlongThePath)
{
    const Model model = GetParam();
    Scenario scenario(1.10000);
    AddBar(scenario, model, {1.10000, 1.10040, 1.09950, 1.10020});
    AddBar(scenario, model, {1.10020, 1.10020, 1.10020, 1.10020});
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    const Collected r = RunScripted(script, scenario, WithModel(model));
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, 1.00);
    EXPECT_NEAR(r.trades[0].adverse, -6.00, 1e-9);
    EXPECT_NEAR(r.trades[0].favourable, 3.00, 1e-9);
}

// Levels the library's answers make invalid open the position without them,
// and the trade says why.
TEST(Levels, InvalidLevelsAreDroppedWithANote)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        int32_t side;
        double takeProfit;
        double stopLoss;
        const char* note;
    };
    const Case cases[] = {
        {"no distances", 1, 0.0, -0.5,
         "opened without a take-profit: PoTP answered 0; opened without a stop-loss: PoSL answered -0.5"},
        {"not a number", 2, nan, 0.00100, "opened without a take-profit: PoTP answered nan"},
        // A stop 5 points under the ask is 5 points above the bid.
        {"buy stop inside the spread", 1, 0.00050, 0.00005,
         "opened without a stop-loss: 1.10005 is at or above the bid 1.10000"},
        // A buy's stop further below than the price is.
        {"stop below 0", 1, 0.00050, 2.5, "opened without a stop-loss: 1.10010 - 2.50000 is -1.39990 (not above 0)"},
        // A stop 5 points over the bid is 5 points under the sell's ask.
        {"sell stop inside the spread", 2, 0.00050, 0.00005,
         "opened without a stop-loss: 1.10005 is at or below the ask 1.10010"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(1.10000);
        scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = c.side;
        script.takeProfit = c.takeProfit;
        script.stopLoss = c.stopLoss;
        const Collected r = RunScripted(script, scenario, testing::EurusdSettings());
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].note, c.note);
        EXPECT_EQ(r.outcome.tally.refusalCount, 0u);
    }
}

// Real ticks: every move is a gap, and each tick has its own spread.
TEST(Ticks, LevelsJumpedOverFillAtTheTickWithItsOwnAsk)
{
    struct Case {
        const char* name;
        int32_t side;
        std::vector<std::vector<double>> ticks;  // ms, bid, ask
        CloseReason reason;
        double closePrice;
        double profit;
        int64_t closeMs;
    };
    const Case cases[] = {
        // Buy at the first tick's ask 1.10010: target 1.10060, reached by
        // the third tick's bid 1.10070 (+6.00).
        {"buy target", 1, {{0, 1.10000, 1.10010}, {1000, 1.10030, 1.10045}, {2500, 1.10070, 1.10080}},
         CloseReason::TakeProfit, 1.10070, 6.00, 2500},
        // Sell at 1.10000, stop 1.10100 on the ask: a tick with a 60-point
        // spread puts the ask at 1.10110 while the bid is 1.10050 (-11.00).
        {"sell stop on a wide spread", 2, {{0, 1.10000, 1.10008}, {700, 1.10050, 1.10110}},
         CloseReason::StopLoss, 1.10110, -11.00, 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(1.10000);
        scenario.AddTicks(c.ticks).AddTicks({{0, 1.10000, 1.10010}});
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = c.side;
        script.takeProfit = 0.00050;
        script.stopLoss = 0.00100;
        TestSettings s = WithModel(Model::Ticks);
        s.spreadFixed = false;
        const Collected r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_DOUBLE_EQ(r.trades[0].openPrice, c.ticks[0][c.side == 1 ? 2 : 1]);
        EXPECT_EQ(r.trades[0].reason, c.reason);
        EXPECT_DOUBLE_EQ(r.trades[0].closePrice, c.closePrice);
        EXPECT_DOUBLE_EQ(r.trades[0].profit, c.profit);
        EXPECT_EQ(r.trades[0].closeTimeMs, Scenario::MsOf(0) + c.closeMs);
    }
}

TEST(Orders, RefusedOrdersOpenNothingAndAreListed)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double lots;
        int32_t code;
    };
    const Case cases[] = {
        {"LOT not a number", nan, 0},
        {"LOT infinite", inf, 0},
        {"LOT zero", 0.0, 0},
        {"LOT negative", -0.1, 0},
        {"below the minimum lot", 0.001, ErrInvalidVolume},
        {"above the maximum lot", 101.0, ErrInvalidVolume},
        // 100 lots need 110,010 of margin on a 10,000 account.
        {"not enough money", 100.0, ErrNotEnoughMoney},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(1.10000);
        scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.lots = c.lots;
        script.stopLoss = 0.001;
        const Collected r = RunScripted(script, scenario, testing::EurusdSettings());
        EXPECT_TRUE(r.trades.empty());
        EXPECT_EQ(r.outcome.tally.refusalCount, 1u);
        ASSERT_EQ(r.outcome.tally.refusals.size(), 1u);
        EXPECT_EQ(r.outcome.tally.refusals[0].code, c.code);
        EXPECT_EQ(r.outcome.tally.refusals[0].timeMs, Scenario::MsOf(0));
    }
}

}  // namespace
}  // namespace torvik::tester
