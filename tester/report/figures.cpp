#include "tester/report/figures.h"

#include <cmath>
#include <limits>
#include <utility>

namespace torvik::tester {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
const auto More = [](double a, double b) { return a > b; };
const auto Less = [](double a, double b) { return a < b; };

}  // namespace

void RunTracker::Add(double profit)
{
    ++current.count;
    current.money += profit;
}

template <typename Better>
void RunTracker::End(Better better)
{
    if (current.count == 0) return;
    ++runs;
    tradesInRuns += current.count;
    if (current.count > longest.count) longest = current;
    if (richest.count == 0 || better(current.money, richest.money)) richest = current;
    current = Run{};
}

FigureAccumulator::FigureAccumulator(double deposit) : peak_(deposit), lowest_(deposit), performance_(deposit)
{
    f_.initialDeposit = deposit;
    f_.finalBalance = deposit;
}

void FigureAccumulator::AddTrade(const Trade& t, int64_t stillOpenSinceMs)
{
    // Every trade figure counts a trade's whole result: profit, commission and swap.
    const double result = NetResult(t);
    performance_.AddTrade(result, t.openTimeMs, t.closeTimeMs, t.adverse, t.favourable, stillOpenSinceMs);
    Figures& f = f_;
    f.totalCommission += t.commission;
    f.totalSwap += t.swap;
    ++f.totalTrades;
    const bool won = result > 0.0;
    const bool lost = result < 0.0;
    if (t.side == Side::Buy) {
        ++f.longPositions;
        f.longWon += won ? 1 : 0;
    } else {
        ++f.shortPositions;
        f.shortWon += won ? 1 : 0;
    }
    if (won) {
        ++f.profitTrades;
        f.grossProfit += result;
        if (result > f.largestProfit) f.largestProfit = result;
        losses_.End(Less);
        wins_.Add(result);
    } else if (lost) {
        ++f.lossTrades;
        f.grossLoss += result;
        if (result < f.largestLoss) f.largestLoss = result;
        wins_.End(More);
        losses_.Add(result);
    } else {
        wins_.End(More);
        losses_.End(Less);
    }
    const double before = t.balance - result;
    if (before > 0.0) {
        const double r = result / before;
        sum_ += r;
        sumSquares_ += r * r;
        ++returns_;
    }
    f.finalBalance = t.balance;
}

void FigureAccumulator::AddEquityRow(int64_t timeMs, double equity) { performance_.AddRow(timeMs, equity); }

void FigureAccumulator::AddEquity(uint32_t time, double e)
{
    Figures& f = f_;
    if (!anyEquity_) peakTime_ = time;
    anyEquity_ = true;
    lastTime_ = time;
    const auto closeSpell = [&](uint32_t end) {
        const uint64_t length = end - peakTime_;
        if (length > f.longestDrawdownSeconds) {
            f.longestDrawdownSeconds = length;
            f.longestDrawdownStart = peakTime_;
            f.longestDrawdownEnd = end;
        }
    };
    if (e < lowest_) lowest_ = e;
    if (e >= peak_) {
        if (below_) closeSpell(time);
        below_ = false;
        peak_ = e;
        peakTime_ = time;
        return;
    }
    below_ = true;
    const double fall = peak_ - e;
    const double percent = peak_ > 0.0 ? fall / peak_ * 100.0 : 0.0;
    if (fall > f.maximalDrawdown) {
        f.maximalDrawdown = fall;
        f.maximalDrawdownPercent = percent;
    }
    if (percent > f.relativeDrawdownPercent) {
        f.relativeDrawdownPercent = percent;
        f.relativeDrawdown = fall;
    }
}

Figures FigureAccumulator::Result() const
{
    Figures f = f_;
    RunTracker wins = wins_;
    RunTracker losses = losses_;
    wins.End(More);
    losses.End(Less);
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
    if (returns_ >= 2) {
        const double n = static_cast<double>(returns_);
        const double mean = sum_ / n;
        const double variance = (sumSquares_ - n * mean * mean) / (n - 1.0);
        if (variance > 0.0) f.sharpeRatio = mean / std::sqrt(variance);
    }
    if (below_ && anyEquity_) {
        const uint64_t length = lastTime_ - peakTime_;
        if (length > f.longestDrawdownSeconds) {
            f.longestDrawdownSeconds = length;
            f.longestDrawdownStart = peakTime_;
            f.longestDrawdownEnd = lastTime_;
        }
    }
    f.absoluteDrawdown = f.initialDeposit - lowest_;

    PerformanceFigures p = performance_.Result();
    f.sharpeAnnual = p.sharpeAnnual;
    f.sortinoAnnual = p.sortinoAnnual;
    f.cagrPercent = p.cagrPercent;
    f.sqn = p.sqn;
    f.exposurePercent = p.exposurePercent;
    f.averageHoldingSeconds = p.averageHoldingSeconds;
    f.averageMae = p.averageMae;
    f.averageMfe = p.averageMfe;
    f.worstMae = p.worstMae;
    f.bestMfe = p.bestMfe;
    f.monthly = std::move(p.monthly);
    f.histogram = std::move(p.histogram);
    f.recoveryFactor = f.maximalDrawdown > 0.0 ? f.totalNetProfit / f.maximalDrawdown : NaN;
    f.calmarRatio = std::isfinite(f.cagrPercent) && f.relativeDrawdownPercent > 0.0
                        ? f.cagrPercent / f.relativeDrawdownPercent
                        : NaN;
    return f;
}

Figures ComputeFigures(std::span<const Trade> trades, std::span<const EquitySample> equity, double deposit)
{
    FigureAccumulator a(deposit);
    for (const Trade& t : trades) a.AddTrade(t);
    for (const EquitySample& e : equity) a.AddEquity(e.time, e.equity);
    return a.Result();
}

}  // namespace torvik::tester
