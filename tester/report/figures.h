// The figures of a test report, accumulated as the trades close and the
// equity moves: nothing is kept per trade or per tick.
#pragma once

#include <cstdint>
#include <span>

#include "tester/market/account.h"
#include "tester/report/performance.h"

namespace torvik::tester {

struct Run {
    int32_t count = 0;
    double money = 0.0;
};

struct Figures {
    double initialDeposit = 0.0;
    double finalBalance = 0.0;
    double totalNetProfit = 0.0;
    double grossProfit = 0.0;
    double grossLoss = 0.0;      // 0 or negative
    double profitFactor = 0.0;   // NaN without a losing trade
    double expectedPayoff = 0.0; // 0 without trades

    // Drawdowns of the equity curve. Absolute: how far equity fell below the
    // deposit. Maximal: the largest fall from a peak in money, with that fall
    // as a percentage of its peak. Relative: the largest fall as a percentage
    // of its peak, with that fall in money.
    double absoluteDrawdown = 0.0;
    double maximalDrawdown = 0.0;
    double maximalDrawdownPercent = 0.0;
    double relativeDrawdownPercent = 0.0;
    double relativeDrawdown = 0.0;
    // The longest time equity stayed below an earlier peak (until it got back
    // to it, or the end of the test), in seconds of bar time.
    uint64_t longestDrawdownSeconds = 0;
    uint32_t longestDrawdownStart = 0;
    uint32_t longestDrawdownEnd = 0;

    int32_t totalTrades = 0;
    int32_t shortPositions = 0;
    int32_t shortWon = 0;
    int32_t longPositions = 0;
    int32_t longWon = 0;
    int32_t profitTrades = 0;  // profit above 0
    int32_t lossTrades = 0;    // profit below 0; a trade of exactly 0 is neither
    double largestProfit = 0.0;
    double largestLoss = 0.0;  // 0 or negative
    double averageProfit = 0.0;
    double averageLoss = 0.0;

    Run maxConsecutiveWins;        // the longest run of profits (the first of equal length)
    Run maxConsecutiveLosses;      // the longest run of losses
    Run maximalConsecutiveProfit;  // the run of profits with the largest sum
    Run maximalConsecutiveLoss;    // the run of losses with the most negative sum
    double averageConsecutiveWins = 0.0;
    double averageConsecutiveLosses = 0.0;

    // Mean over standard deviation (n - 1) of each trade's return on the
    // balance before it; NaN with fewer than two trades or no spread.
    double sharpeRatio = 0.0;

    // The costs in the trades' results above: 0 or negative when charged.
    // Every trade figure counts a trade's whole result (profit, commission
    // and swap).
    double totalCommission = 0.0;
    double totalSwap = 0.0;

    // On the days, months and trades (tester/report/performance.h; the
    // README defines each); NaN where undefined.
    double sharpeAnnual = 0.0;     // daily equity returns, x sqrt(252)
    double sortinoAnnual = 0.0;
    double cagrPercent = 0.0;
    double calmarRatio = 0.0;      // CAGR over the relative drawdown
    double recoveryFactor = 0.0;   // net profit over the maximal drawdown
    double sqn = 0.0;              // sqrt(trades) x mean / deviation of the profits
    double exposurePercent = 0.0;  // time with a position open, of the test's time
    uint64_t averageHoldingSeconds = 0;
    double averageMae = 0.0;       // the trades' excursions, money
    double averageMfe = 0.0;
    double worstMae = 0.0;
    double bestMfe = 0.0;
    MonthlyReturns monthly;
    TradeHistogram histogram;
};

// One sample of the equity curve.
struct EquitySample {
    uint32_t time;  // seconds
    double equity;
};

// Runs of consecutive wins or losses, in closing order.
struct RunTracker {
    Run current;
    Run longest;
    Run richest;
    int32_t runs = 0;
    int64_t tradesInRuns = 0;

    void Add(double profit);
    // better(a, b): a is a larger sum than b in this tracker's direction.
    template <typename Better>
    void End(Better better);
    double Average() const { return runs == 0 ? 0.0 : static_cast<double>(tradesInRuns) / runs; }
};

class FigureAccumulator {
public:
    explicit FigureAccumulator(double deposit);
    // stillOpenSinceMs: the earliest open time of the positions still open
    // once this one has closed, for the time in the market.
    void AddTrade(const Trade& t, int64_t stillOpenSinceMs = ExposureTracker::NoneOpen);
    // Equity samples in time order.
    void AddEquity(uint32_t time, double equity);
    // The rows of equity.csv, in time order: days, months, the test's span.
    void AddEquityRow(int64_t timeMs, double equity);
    Figures Result() const;

private:
    Figures f_;
    RunTracker wins_;
    RunTracker losses_;
    double sum_ = 0.0;
    double sumSquares_ = 0.0;
    int64_t returns_ = 0;
    double peak_;
    double lowest_;
    bool below_ = false;
    bool anyEquity_ = false;
    uint32_t peakTime_ = 0;
    uint32_t lastTime_ = 0;
    PerformanceAccumulator performance_;
};

Figures ComputeFigures(std::span<const Trade> trades, std::span<const EquitySample> equity, double deposit);

}  // namespace torvik::tester
