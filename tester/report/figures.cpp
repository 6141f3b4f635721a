#include "tester/report/figures.h"

#include <cmath>
#include <limits>

namespace torvik::tester {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Runs of consecutive wins or losses, in closing order.
struct RunTracker {
    Run current;
    Run longest;
    Run richest;
    int32_t runs = 0;
    int64_t tradesInRuns = 0;

    void Add(double profit)
    {
        ++current.count;
        current.money += profit;
    }
    // better(a, b): a is a larger sum than b in this tracker's direction.
    template <typename Better>
    void End(Better better)
    {
        if (current.count == 0) return;
        ++runs;
        tradesInRuns += current.count;
        if (current.count > longest.count) longest = current;
        if (richest.count == 0 || better(current.money, richest.money)) richest = current;
        current = Run{};
    }
    double Average() const { return runs == 0 ? 0.0 : static_cast<double>(tradesInRuns) / runs; }
};

void AddTradeFigures(std::span<const Trade> trades, Figures& f)
{
    RunTracker wins;
    RunTracker losses;
    const auto more = [](double a, double b) { return a > b; };
    const auto less = [](double a, double b) { return a < b; };
    double sum = 0.0;
    double sumSquares = 0.0;
    int64_t returns = 0;
    for (const Trade& t : trades) {
        ++f.totalTrades;
        const bool won = t.profit > 0.0;
        const bool lost = t.profit < 0.0;
        if (t.side == Side::Buy) {
            ++f.longPositions;
            f.longWon += won ? 1 : 0;
        } else {
            ++f.shortPositions;
            f.shortWon += won ? 1 : 0;
        }
        if (won) {
            ++f.profitTrades;
            f.grossProfit += t.profit;
            if (t.profit > f.largestProfit) f.largestProfit = t.profit;
            losses.End(less);
            wins.Add(t.profit);
        } else if (lost) {
            ++f.lossTrades;
            f.grossLoss += t.profit;
            if (t.profit < f.largestLoss) f.largestLoss = t.profit;
            wins.End(more);
            losses.Add(t.profit);
        } else {
            wins.End(more);
            losses.End(less);
        }
        const double before = t.balance - t.profit;
        if (before > 0.0) {
            const double r = t.profit / before;
            sum += r;
            sumSquares += r * r;
            ++returns;
        }
    }
    wins.End(more);
    losses.End(less);
    f.maxConsecutiveWins = wins.longest;
    f.maximalConsecutiveProfit = wins.richest;
    f.maxConsecutiveLosses = losses.longest;
    f.maximalConsecutiveLoss = losses.richest;
    f.averageConsecutiveWins = wins.Average();
    f.averageConsecutiveLosses = losses.Average();

    f.totalNetProfit = f.grossProfit + f.grossLoss;
    f.profitFactor = f.grossLoss < 0.0 ? f.grossProfit / -f.grossLoss : NaN;
    f.expectedPayoff = f.totalTrades > 0 ? f.totalNetProfit / f.totalTrades : 0.0;
    f.averageProfit = f.profitTrades > 0 ? f.grossProfit / f.profitTrades : 0.0;
    f.averageLoss = f.lossTrades > 0 ? f.grossLoss / f.lossTrades : 0.0;

    f.sharpeRatio = NaN;
    if (returns >= 2) {
        const double n = static_cast<double>(returns);
        const double mean = sum / n;
        const double variance = (sumSquares - n * mean * mean) / (n - 1.0);
        if (variance > 0.0) f.sharpeRatio = mean / std::sqrt(variance);
    }
}

void AddDrawdowns(std::span<const EquityPoint> equity, double deposit, Figures& f)
{
    double peak = deposit;
    double lowest = deposit;
    bool below = false;
    uint32_t peakTime = equity.empty() ? 0 : equity.front().time;
    const auto closeSpell = [&](uint32_t end) {
        const uint64_t length = end - peakTime;
        if (length > f.longestDrawdownSeconds) {
            f.longestDrawdownSeconds = length;
            f.longestDrawdownStart = peakTime;
            f.longestDrawdownEnd = end;
        }
    };
    for (const EquityPoint& p : equity) {
        const double e = p.equity;
        if (e < lowest) lowest = e;
        if (e >= peak) {
            if (below) closeSpell(p.time);
            below = false;
            peak = e;
            peakTime = p.time;
            continue;
        }
        below = true;
        const double fall = peak - e;
        const double percent = peak > 0.0 ? fall / peak * 100.0 : 0.0;
        if (fall > f.maximalDrawdown) {
            f.maximalDrawdown = fall;
            f.maximalDrawdownPercent = percent;
        }
        if (percent > f.relativeDrawdownPercent) {
            f.relativeDrawdownPercent = percent;
            f.relativeDrawdown = fall;
        }
    }
    if (below) closeSpell(equity.back().time);
    f.absoluteDrawdown = deposit - lowest;
}

}  // namespace

Figures ComputeFigures(std::span<const Trade> trades, std::span<const EquityPoint> equity, double deposit)
{
    Figures f;
    f.initialDeposit = deposit;
    AddTradeFigures(trades, f);
    AddDrawdowns(equity, deposit, f);
    f.finalBalance = trades.empty() ? deposit : trades.back().balance;
    return f;
}

}  // namespace torvik::tester
