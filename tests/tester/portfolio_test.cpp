// Several charts in one account. Hand-made: the charts take turns in time
// order (a tie goes to the chart given first), each update whole; a
// cross's profit converts at another chart's price; --max-positions counts
// per symbol; the stop-out closes the most losing position of the whole
// account. On the bundled history: a portfolio of EURUSD and USDJPY gives
// every signal of the two separate runs, and the account's balance is the
// sum of both symbols' trades with their costs. Gold and bitcoin trade with
// sane sizes out of the box, and a lot LOT cannot give is explained.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scenario.h"
#include "test_paths.h"
#include "tester/run/options.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;
using testing::Collected;
using testing::Scenario;
using testing::Script;

struct Update {
    int32_t chart;
    int64_t timeMs;
    int32_t closeSignal;
    int32_t openSignal;
    bool operator==(const Update&) const = default;
};

class Updates : public DecisionObserver {
public:
    void OnUpdate(const TickRecord& r) override
    {
        all.push_back(Update{r.chart, r.timeMs, r.closeSignal, r.openSignal});
        refused += r.refusal != 0 ? 1 : 0;
    }
    std::vector<Update> all;
    int32_t refused = 0;
};

// Two hand-made charts through the scripted library, each with its settings.
Collected RunTwo(Script& script, Scenario& a, Scenario& b, TestSettings sa, TestSettings sb, Updates* updates = nullptr)
{
    testing::activeScript = &script;
    TableBinding binding(testing::ScriptedLibrary());
    Collected c;
    ResolvedRun resolved;
    resolved.settings = sa;
    resolved.charts.push_back(ChartSource{"a", &a.Data(), a.Data().info, sa});
    resolved.charts.push_back(ChartSource{"b", &b.Data(), b.Data().info, sb});
    RunHooks hooks;
    hooks.library = &binding;
    hooks.sink = &c;
    hooks.observer = updates;
    c.outcome = RunBacktest(resolved, hooks);
    testing::activeScript = nullptr;
    return c;
}

TestSettings Chart(const char* symbol, int32_t digits)
{
    TestSettings s = testing::EurusdSettings();
    s.symbol = symbol;
    s.digits = digits;
    s.point = std::pow(10.0, -digits);
    return s;
}

TEST(Portfolio, ChartsTakeTurnsInTimeOrderEachUpdateWhole)
{
    Scenario a(1.10000), b(1.25000);
    for (int i = 0; i < 3; ++i) {
        a.Add(1.10000, 1.10000, 1.10000, 1.10000);
        b.Add(1.25000, 1.25000, 1.25000, 1.25000);
    }
    Script script;
    Updates updates;
    RunTwo(script, a, b, Chart("EURUSD", 5), Chart("GBPUSD", 5), &updates);
    ASSERT_EQ(updates.all.size(), 6u);
    for (size_t i = 0; i < updates.all.size(); ++i) {
        EXPECT_EQ(updates.all[i].chart, static_cast<int32_t>(i % 2));
        EXPECT_EQ(updates.all[i].timeMs, Scenario::MsOf(i / 2));
    }
    // Each update: Rft with its own chart's prices, then the questions; no
    // call of the other chart in between (one Rft per update: nothing closed).
    ASSERT_EQ(script.rft.size(), 6u);
    for (size_t i = 0; i < script.rft.size(); ++i) {
        EXPECT_DOUBLE_EQ(script.rft[i].bid, i % 2 == 0 ? 1.10000 : 1.25000);
    }
    EXPECT_EQ(script.resets, 1) << "one library for both charts, reset once";
}

// EURGBP in a USD account with a GBPUSD chart in the run: the pounds of a
// take-profit of 50 points on 0.1 lot (5.00 GBP) are worth 5.00 x the
// GBPUSD bid 1.25000 = 6.25 USD; the margin of one lot, 100,000 EUR / 100
// at the EURGBP ask 0.85010, in pounds, then in dollars at 1.25000: 1,062.625.
TEST(Portfolio, CrossConvertsAtTheOtherChartsPrice)
{
    Scenario cross(0.85000), pound(1.25000);
    cross.Add(0.85000, 0.85100, 0.84990, 0.85000).Add(0.85000, 0.85000, 0.85000, 0.85000);
    pound.Add(1.25000, 1.25000, 1.25000, 1.25000).Add(1.25000, 1.25000, 1.25000, 1.25000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.takeProfit = 0.00050;
    const Collected r = RunTwo(script, cross, pound, Chart("EURGBP", 5), Chart("GBPUSD", 5));
    const auto eurgbp = std::find_if(r.trades.begin(), r.trades.end(), [](const Trade& t) { return t.chart == 0; });
    ASSERT_NE(eurgbp, r.trades.end());
    EXPECT_EQ(eurgbp->reason, CloseReason::TakeProfit);
    EXPECT_DOUBLE_EQ(eurgbp->profit, 6.25);
    ASSERT_GE(script.lot.size(), 1u);
    EXPECT_NEAR(script.lot[0].marginPerLot, 1062.625, 1e-9);
}

TEST(Portfolio, MaxPositionsCountsPerSymbol)
{
    Scenario a(1.10000), b(1.25000);
    for (int i = 0; i < 4; ++i) {
        a.Add(1.10000, 1.10000, 1.10000, 1.10000);
        b.Add(1.25000, 1.25000, 1.25000, 1.25000);
    }
    Script script;
    script.openEverywhere = 1;
    TestSettings sa = Chart("EURUSD", 5), sb = Chart("GBPUSD", 5);
    sa.maxPositions = sb.maxPositions = 2;
    const Collected r = RunTwo(script, a, b, sa, sb);
    ASSERT_EQ(r.trades.size(), 4u);  // all closed at the end
    EXPECT_EQ(std::count_if(r.trades.begin(), r.trades.end(), [](const Trade& t) { return t.chart == 0; }), 2);
    EXPECT_EQ(std::count_if(r.trades.begin(), r.trades.end(), [](const Trade& t) { return t.chart == 1; }), 2);
}

// Buys of 4 lots on both charts need 4,400 + 5,000 of margin. EURUSD gaps
// 140 points down: 5,640 lost there and 40 of spread on GBPUSD leave 4,320,
// 46% of the margin. The stop-out closes the EURUSD buy, the most losing
// of the account; the level is then 86% and GBPUSD's stays open.
TEST(Portfolio, StopOutClosesTheMostLosingPositionOfTheAccount)
{
    Scenario a(1.10000), b(1.25000);
    a.Add(1.10000, 1.10000, 1.10000, 1.10000).Add(1.08600, 1.08600, 1.08600, 1.08600);
    b.Add(1.25000, 1.25000, 1.25000, 1.25000).Add(1.25000, 1.25000, 1.25000, 1.25000);
    Script script;
    script.open[{Scenario::TimeOf(0), 0}] = 1;
    script.lots = 4.0;
    const Collected r = RunTwo(script, a, b, Chart("EURUSD", 5), Chart("GBPUSD", 5));
    ASSERT_EQ(r.trades.size(), 2u);
    EXPECT_EQ(r.trades[0].chart, 0);
    EXPECT_EQ(r.trades[0].reason, CloseReason::StopOut);
    EXPECT_DOUBLE_EQ(r.trades[0].profit, -5640.00);
    EXPECT_EQ(r.trades[1].chart, 1);
    EXPECT_EQ(r.trades[1].reason, CloseReason::EndOfTest);
    EXPECT_FALSE(r.outcome.emptied);
}

// ---- the bundled history

Collected RunFiles(const std::vector<std::string>& files, const std::vector<std::pair<std::string, std::string>>& options,
                   Updates* updates = nullptr)
{
    static std::map<std::string, LoadedData> loaded;
    RunInputs in = DefaultInputs();
    std::vector<ChartSource> sources;
    for (const std::string& f : files) {
        ApplyOption(in, "bars", f);
        auto it = loaded.find(f);
        if (it == loaded.end()) it = loaded.emplace(f, LoadFile(BundledFile(f))).first;
        sources.push_back(ChartSource{f, &it->second, it->second.info});
    }
    for (const auto& [name, text] : options) ApplyOption(in, name, text);
    return testing::RunCollected(ResolveRun(in, sources), updates);
}

TEST(Portfolio, SignalsOfTheSeparateRunsAndTheBalanceOfBoth)
{
    // Costs on, so that the balance has more than profits to add up;
    // slippage fixed, so that fills do not depend on the order of draws.
    const std::vector<std::pair<std::string, std::string>> options = {
        {"commission", "7"}, {"costs", "table"}, {"slippage", "1"}, {"from", "2024.01.01"}};
    Updates eurusd, usdjpy, both;
    const Collected alone0 = RunFiles({"EURUSD_H1.csv"}, options, &eurusd);
    const Collected alone1 = RunFiles({"USDJPY_H1.csv"}, options, &usdjpy);
    const Collected portfolio = RunFiles({"EURUSD_H1.csv", "USDJPY_H1.csv"}, options, &both);

    EXPECT_EQ(portfolio.outcome.tally.refusalCount, 0u) << "an order refused for margin would change the signals";
    std::vector<Update> mine[2];
    for (const Update& u : both.all) mine[u.chart].push_back(Update{0, u.timeMs, u.closeSignal, u.openSignal});
    ASSERT_EQ(mine[0].size(), eurusd.all.size());
    ASSERT_EQ(mine[1].size(), usdjpy.all.size());
    EXPECT_TRUE(mine[0] == eurusd.all);
    EXPECT_TRUE(mine[1] == usdjpy.all);
    EXPECT_EQ(portfolio.trades.size(), alone0.trades.size() + alone1.trades.size());
    // The updates came in time order.
    for (size_t i = 1; i < both.all.size(); ++i) ASSERT_LE(both.all[i - 1].timeMs, both.all[i].timeMs);

    // The balance: the deposit and every trade's profit, commission and swap.
    double balance = 10000.0, commission = 0.0, swap = 0.0;
    double bySymbol[2] = {0.0, 0.0};
    for (const Trade& t : portfolio.trades) {
        balance += t.profit + t.commission + t.swap;
        commission += t.commission;
        swap += t.swap;
        bySymbol[t.chart] += t.profit + t.commission + t.swap;
    }
    EXPECT_LT(commission, 0.0);
    EXPECT_NE(swap, 0.0);
    EXPECT_NEAR(portfolio.trades.back().balance, balance, 1e-6);
    EXPECT_NEAR(portfolio.outcome.figures.finalBalance, balance, 1e-6);
    EXPECT_NEAR(portfolio.equity.back().balance, balance, 1e-6);
    EXPECT_NEAR(portfolio.outcome.figures.totalCommission, commission, 1e-6);
    EXPECT_NEAR(portfolio.outcome.figures.totalSwap, swap, 1e-6);
    for (size_t c = 0; c < 2; ++c) EXPECT_NEAR(portfolio.outcome.charts[c].figures.netProfit, bySymbol[c], 1e-6);
    // Trades of both symbols, in closing order.
    for (size_t i = 1; i < portfolio.trades.size(); ++i) {
        ASSERT_LE(portfolio.trades[i - 1].closeTimeMs, portfolio.trades[i].closeTimeMs);
    }
}

// Gold and bitcoin with nothing but the file: the table's contract, the
// fixed lot (LOT's risk sizing is made for currency pairs), margins a
// fraction of the deposit.
TEST(Portfolio, GoldAndBitcoinTradeSaneSizesOutOfTheBox)
{
    for (const char* file : {"XAUUSD_H1.csv", "BTCUSD_H1.csv"}) {
        SCOPED_TRACE(file);
        const Collected r = RunFiles({file}, {});
        ASSERT_GT(r.trades.size(), 3u);
        for (const Trade& t : r.trades) EXPECT_DOUBLE_EQ(t.lots, 0.1);
        double most = 0.0;
        for (const EquityRow& e : r.equity) most = std::max(most, e.margin);
        EXPECT_GT(most, 0.0);
        EXPECT_LT(most, 0.5 * 10000.0);
        EXPECT_EQ(r.outcome.tally.refusalCount, 0u);
    }
}

// Bitcoin's contract of 1 is below LOT's 100: with risk sizing on it gives
// no lot, and the run says which argument made it so.
TEST(Portfolio, NoLotIsExplained)
{
    const Collected r = RunFiles({"BTCUSD_H1.csv"}, {{"risk", "2"}});
    EXPECT_TRUE(r.trades.empty());
    ASSERT_EQ(r.outcome.tally.noLot.size(), 1u);
    EXPECT_GT(r.outcome.tally.noLot[0], 0u);
    EXPECT_NE(r.outcome.tally.noLotReason[0].find("lotDivisor 1 (the contract size) is below 100"), std::string::npos)
        << r.outcome.tally.noLotReason[0];
    ASSERT_FALSE(r.outcome.tally.refusals.empty());
    EXPECT_NE(r.outcome.tally.refusals[0].text.find("--risk 0"), std::string::npos);
}

}  // namespace
}  // namespace torvik::tester
