// The broker on hand-made bars, with the library's answers scripted: fills of
// take-profit and stop-loss, gaps, the spread, profit conversion, stop-out
// and refused orders. Every expected number is worked out in the comments.
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scenario.h"

namespace torvik::tester {
namespace {

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

    const ReplayResult r = RunScripted(script, scenario, s);
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
    EXPECT_EQ(t.closeTime, Scenario::TimeOf(want.closeBar));
}

INSTANTIATE_TEST_SUITE_P(Cases, BuyFillTest,
                         ::testing::Combine(::testing::ValuesIn(BuyFills),
                                            ::testing::Values(Model::Open, Model::Ohlc)),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param).name) +
                                                (std::get<1>(info.param) == Model::Open ? "_open" : "_ohlc");
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
        // open to the end and closes at the ask of the last close.
        {{1.10000, 1.10050, 1.09945, 1.10000}, CloseReason::EndOfTest, 1.10010, -1.00},
    };
    for (const Case& c : cases) {
        Scenario scenario(1.10000);
        scenario.Add(c.bar[0], c.bar[1], c.bar[2], c.bar[3]).Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 2;
        script.takeProfit = 0.00050;
        script.stopLoss = 0.00100;
        const ReplayResult r = RunScripted(script, scenario, testing::EurusdSettings());
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].side, Side::Sell);
        EXPECT_DOUBLE_EQ(r.trades[0].openPrice, 1.10000);
        EXPECT_DOUBLE_EQ(r.trades[0].takeProfit, 1.09950);
        EXPECT_DOUBLE_EQ(r.trades[0].stopLoss, 1.10100);
        EXPECT_EQ(r.trades[0].reason, c.reason);
        EXPECT_DOUBLE_EQ(r.trades[0].closePrice, c.price);
        EXPECT_DOUBLE_EQ(r.trades[0].profit, c.profit);
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
    const ReplayResult r = RunScripted(script, scenario, testing::EurusdSettings());
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
        double deposit;
        double profit;
        double marginPerLot;
    };
    const Case cases[] = {
        // EURUSD in USD: 0.00050 x 10,000 = 5.00; one lot at the ask 1.10010
        // needs 100,000 x 1.10010 / 100.
        {"EURUSD", 5, 1.10000, 0.00050, Conversion::Direct, 1.0, 10000.0, 5.00, 1100.10},
        // USDJPY in USD: 0.500 x 10,000 = 5,000 yen, divided by the closing
        // price 150.510: 33.2204 -> 33.22; one lot needs 100,000 / 100 dollars.
        {"USDJPY", 3, 150.000, 0.500, Conversion::DivideByPrice, 1.0, 10000.0, 33.22, 1000.0},
        // USDJPY in JPY: the 5,000 yen as they are; the margin in yen.
        {"USDJPY", 3, 150.000, 0.500, Conversion::Direct, 1.0, 1500000.0, 5000.00, 150010.0},
        // EURGBP in USD at 1.25 dollars a pound: 5 pounds are 6.25; the
        // margin 100,000 x 0.85010 / 100 pounds are 1,062.625 dollars.
        {"EURGBP", 5, 0.85000, 0.00050, Conversion::FixedRate, 1.25, 10000.0, 6.25, 1062.625},
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
        s.deposit = c.deposit;
        const ReplayResult r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].reason, CloseReason::TakeProfit);
        EXPECT_DOUBLE_EQ(r.trades[0].profit, c.profit);
        ASSERT_EQ(script.lot.size(), 1u);
        EXPECT_NEAR(script.lot[0].marginPerLot, c.marginPerLot, 1e-9 * c.marginPerLot);
        EXPECT_DOUBLE_EQ(script.lot[0].accountFunds, c.deposit);
    }
}

// One lot bought at 1.10010 on a 1,000 deposit at 1:500 needs 220.02 of
// margin; below a 50 % margin level (equity under 110.01) the broker closes.
TEST(StopOut, AtTheBarsWorstPriceInBothModels)
{
    for (const Model model : {Model::Open, Model::Ohlc}) {
        Scenario scenario(1.10000);
        // Low 1.09000: one lot loses 1,010.00 there, equity -10.
        scenario.Add(1.10000, 1.10020, 1.09000, 1.09500).Add(1.09500, 1.09500, 1.09500, 1.09500);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.lots = 1.0;
        TestSettings s = testing::EurusdSettings();
        s.model = model;
        s.deposit = 1000.0;
        s.leverage = 500;
        const ReplayResult r = RunScripted(script, scenario, s);
        ASSERT_EQ(r.trades.size(), 1u);
        EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
        EXPECT_DOUBLE_EQ(r.trades[0].closePrice, 1.09000);
        EXPECT_DOUBLE_EQ(r.trades[0].profit, -1010.00);
        EXPECT_EQ(r.trades[0].closeTime, Scenario::TimeOf(0));
    }
}

TEST(StopOut, NotAboveTheLevel)
{
    Scenario scenario(1.10000);
    // Low 1.09300: a loss of 710.00 leaves equity 290, 132 % of the margin.
    scenario.Add(1.10000, 1.10020, 1.09300, 1.09500).Add(1.09500, 1.09500, 1.09500, 1.09500);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.lots = 1.0;
    TestSettings s = testing::EurusdSettings();
    s.deposit = 1000.0;
    s.leverage = 500;
    const ReplayResult r = RunScripted(script, scenario, s);
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].reason, CloseReason::EndOfTest);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -510.00);  // closed at 1.09500
}

// Two lots bought at 1.10010 and 1.09510 (margins 220.02 and 219.02) on
// 2,000. At 1.08835 they lose 1,175 and 675: equity 150 is 34 % of 439.04.
// Closing the worse one leaves 150 on 219.02, 68 %: the other survives.
TEST(StopOut, ClosesTheMostLosingPositionFirstAndOnlyAsMuchAsNeeded)
{
    Scenario scenario(1.10000);
    scenario.Add(1.10000, 1.10020, 1.09500, 1.09500)
        .Add(1.09500, 1.09500, 1.08835, 1.09000)
        .Add(1.09000, 1.09000, 1.09000, 1.09000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.open[{Scenario::TimeOf(1), 0}] = 1;
    script.lots = 1.0;
    TestSettings s = testing::EurusdSettings();
    s.deposit = 2000.0;
    s.leverage = 500;
    const ReplayResult r = RunScripted(script, scenario, s);
    ASSERT_EQ(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].ticket, 1);
    EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -1175.00);
    EXPECT_DOUBLE_EQ(r.trades[0].balance, 825.00);
    EXPECT_EQ(r.trades[1].ticket, 2);
    EXPECT_EQ(r.trades[1].reason, CloseReason::EndOfTest);
    EXPECT_DOUBLE_EQ(r.trades[1].profit, -510.00);
    EXPECT_DOUBLE_EQ(r.trades[1].balance, 315.00);
}

TEST(Orders, RefusedOrdersOpenNothingAndAreListed)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double lots;
        double stopLoss;
        int32_t code;
    };
    const Case cases[] = {
        {"LOT not a number", nan, 0.001, 0},
        {"LOT infinite", inf, 0.001, 0},
        {"LOT zero", 0.0, 0.001, 0},
        {"LOT negative", -0.1, 0.001, 0},
        {"below the minimum lot", 0.001, 0.001, ErrInvalidVolume},
        {"above the maximum lot", 101.0, 0.001, ErrInvalidVolume},
        // 100 lots need 110,010 of margin on a 10,000 account.
        {"not enough money", 100.0, 0.001, ErrNotEnoughMoney},
        // A stop 5 points under the ask is 5 points above the bid.
        {"stop inside the spread", 0.1, 0.00005, ErrInvalidStops},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scenario scenario(1.10000);
        scenario.Add(1.10000, 1.10000, 1.10000, 1.10000);
        Script script;
        script.open[{Scenario::TimeOf(0), 0}] = 1;
        script.lots = c.lots;
        script.stopLoss = c.stopLoss;
        const ReplayResult r = RunScripted(script, scenario, testing::EurusdSettings());
        EXPECT_TRUE(r.trades.empty());
        EXPECT_EQ(r.refusalCount, 1u);
        ASSERT_EQ(r.refusals.size(), 1u);
        EXPECT_EQ(r.refusals[0].code, c.code);
        EXPECT_EQ(r.refusals[0].time, Scenario::TimeOf(0));
    }
}

}  // namespace
}  // namespace torvik::tester
