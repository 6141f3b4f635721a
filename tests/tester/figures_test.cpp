// The report figures on trade lists and equity curves worked out by hand.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "tester/report/figures.h"

namespace torvik::tester {
namespace {

std::vector<Trade> TradesOf(double deposit, const std::vector<std::pair<Side, double>>& list)
{
    std::vector<Trade> trades;
    double balance = deposit;
    int32_t ticket = 0;
    for (const auto& [side, profit] : list) {
        balance += profit;
        Trade t{};
        t.ticket = ++ticket;
        t.side = side;
        t.profit = profit;
        t.balance = balance;
        trades.push_back(t);
    }
    return trades;
}

std::vector<EquitySample> CurveOf(const std::vector<double>& equity)
{
    std::vector<EquitySample> curve;
    for (size_t i = 0; i < equity.size(); ++i) {
        curve.push_back(EquitySample{static_cast<uint32_t>(1'000'000 + 3600 * i), equity[i]});
    }
    return curve;
}

TEST(Figures, TradeCountsSumsAndRuns)
{
    // +50 +30 | -20 -10 -40 | +100 | 0 | +5
    const std::vector<Trade> trades = TradesOf(1000.0, {{Side::Buy, 50.0},
                                                        {Side::Sell, 30.0},
                                                        {Side::Buy, -20.0},
                                                        {Side::Sell, -10.0},
                                                        {Side::Buy, -40.0},
                                                        {Side::Buy, 100.0},
                                                        {Side::Sell, 0.0},
                                                        {Side::Sell, 5.0}});
    const Figures f = ComputeFigures(trades, {}, 1000.0);
    EXPECT_EQ(f.totalTrades, 8);
    EXPECT_DOUBLE_EQ(f.grossProfit, 185.0);
    EXPECT_DOUBLE_EQ(f.grossLoss, -70.0);
    EXPECT_DOUBLE_EQ(f.totalNetProfit, 115.0);
    EXPECT_DOUBLE_EQ(f.finalBalance, 1115.0);
    EXPECT_DOUBLE_EQ(f.profitFactor, 185.0 / 70.0);
    EXPECT_DOUBLE_EQ(f.expectedPayoff, 115.0 / 8.0);
    // The trade of exactly 0 is neither a profit nor a loss.
    EXPECT_EQ(f.profitTrades, 4);
    EXPECT_EQ(f.lossTrades, 3);
    EXPECT_EQ(f.longPositions, 4);
    EXPECT_EQ(f.longWon, 2);
    EXPECT_EQ(f.shortPositions, 4);
    EXPECT_EQ(f.shortWon, 2);
    EXPECT_DOUBLE_EQ(f.largestProfit, 100.0);
    EXPECT_DOUBLE_EQ(f.largestLoss, -40.0);
    EXPECT_DOUBLE_EQ(f.averageProfit, 185.0 / 4.0);
    EXPECT_DOUBLE_EQ(f.averageLoss, -70.0 / 3.0);
    // Runs of wins: {50, 30}, {100}, {5} (the 0 ends a run); of losses: one of three.
    EXPECT_EQ(f.maxConsecutiveWins.count, 2);
    EXPECT_DOUBLE_EQ(f.maxConsecutiveWins.money, 80.0);
    EXPECT_EQ(f.maximalConsecutiveProfit.count, 1);
    EXPECT_DOUBLE_EQ(f.maximalConsecutiveProfit.money, 100.0);
    EXPECT_EQ(f.maxConsecutiveLosses.count, 3);
    EXPECT_DOUBLE_EQ(f.maxConsecutiveLosses.money, -70.0);
    EXPECT_EQ(f.maximalConsecutiveLoss.count, 3);
    EXPECT_DOUBLE_EQ(f.maximalConsecutiveLoss.money, -70.0);
    EXPECT_DOUBLE_EQ(f.averageConsecutiveWins, 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(f.averageConsecutiveLosses, 3.0);
}

TEST(Figures, LongestAndRichestRunsCanDiffer)
{
    // Losses {-5, -5, -5} and {-50}: the longest run is not the deepest.
    const std::vector<Trade> trades = TradesOf(
        1000.0, {{Side::Buy, -5.0}, {Side::Buy, -5.0}, {Side::Buy, -5.0}, {Side::Buy, 1.0}, {Side::Buy, -50.0}});
    const Figures f = ComputeFigures(trades, {}, 1000.0);
    EXPECT_EQ(f.maxConsecutiveLosses.count, 3);
    EXPECT_DOUBLE_EQ(f.maxConsecutiveLosses.money, -15.0);
    EXPECT_EQ(f.maximalConsecutiveLoss.count, 1);
    EXPECT_DOUBLE_EQ(f.maximalConsecutiveLoss.money, -50.0);
}

TEST(Figures, UndefinedRatiosWithoutLossesOrSpread)
{
    const Figures none = ComputeFigures({}, {}, 1000.0);
    EXPECT_EQ(none.totalTrades, 0);
    EXPECT_DOUBLE_EQ(none.expectedPayoff, 0.0);
    EXPECT_TRUE(std::isnan(none.profitFactor));
    EXPECT_TRUE(std::isnan(none.sharpeRatio));

    // Two wins of 1 % each: no loss, and no spread of returns.
    const Figures wins = ComputeFigures(TradesOf(1000.0, {{Side::Buy, 10.0}, {Side::Buy, 10.1}}), {}, 1000.0);
    EXPECT_TRUE(std::isnan(wins.profitFactor));
    EXPECT_TRUE(std::isnan(wins.sharpeRatio));
}

TEST(Figures, SharpeRatioOfPerTradeReturns)
{
    // Returns on the balance before each trade: 100 / 10,000 = 1 %, then
    // 303 / 10,100 = 3 %. Mean 2 %, deviation sqrt(2 x 0.01 %) = 1.4142 %.
    const Figures f = ComputeFigures(TradesOf(10000.0, {{Side::Buy, 100.0}, {Side::Buy, 303.0}}), {}, 10000.0);
    EXPECT_NEAR(f.sharpeRatio, std::sqrt(2.0), 1e-9);
}

TEST(Figures, DrawdownsOfAnEquityCurve)
{
    // From 1,000 down to 500 (50 % of the peak), up to 3,000, down to 2,200
    // (800, 26.7 %), then 2,500 to the end without regaining 3,000.
    const std::vector<EquitySample> curve = CurveOf({1000, 500, 3000, 2200, 2300, 2400, 2500});
    const Figures f = ComputeFigures({}, curve, 1000.0);
    EXPECT_DOUBLE_EQ(f.absoluteDrawdown, 500.0);
    EXPECT_DOUBLE_EQ(f.maximalDrawdown, 800.0);
    EXPECT_NEAR(f.maximalDrawdownPercent, 800.0 / 3000.0 * 100.0, 1e-12);
    EXPECT_DOUBLE_EQ(f.relativeDrawdownPercent, 50.0);
    EXPECT_DOUBLE_EQ(f.relativeDrawdown, 500.0);
    // Below the 3,000 peak from hour 2 to the last sample at hour 6 (4 h),
    // longer than the recovered spell from hour 0 to hour 2.
    EXPECT_EQ(f.longestDrawdownSeconds, 4u * 3600u);
    EXPECT_EQ(f.longestDrawdownStart, curve[2].time);
    EXPECT_EQ(f.longestDrawdownEnd, curve[6].time);
}

TEST(Figures, NoDrawdownBelowTheDepositWhenEquityStaysAbove)
{
    const Figures f = ComputeFigures({}, CurveOf({1000, 1100, 1050, 1200}), 1000.0);
    EXPECT_DOUBLE_EQ(f.absoluteDrawdown, 0.0);
    EXPECT_DOUBLE_EQ(f.maximalDrawdown, 50.0);
    EXPECT_EQ(f.longestDrawdownSeconds, 2u * 3600u);  // from the 1,100 at hour 1 to the 1,200 at hour 3
}

}  // namespace
}  // namespace torvik::tester
