// The report's ratios on days, months and time in the market, accumulated as
// the run goes from the rows of equity.csv and the closed trades, so that
// every one of them can be worked out again from those two files:
//   - daily returns: the equity of the last equity.csv row of each server
//     day that has rows, against the day before (the deposit before the
//     first): annualised Sharpe and Sortino;
//   - monthly returns: the same at month ends, as a year-by-month table;
//   - CAGR, exposure: from the first to the last row of equity.csv;
//   - SQN, holding time, excursions, the histogram: the trades' columns.
// Nothing is kept per row or per trade.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace torvik::tester {

inline constexpr double TradingDaysPerYear = 252.0;
inline constexpr double DaysPerYear = 365.25;
inline constexpr int64_t MillisecondsPerDay = 86'400'000;

// Year-by-month returns in percent of the equity at the month's start; a
// month without an equity row is empty.
struct MonthlyReturns {
    std::vector<int32_t> years;
    std::vector<std::array<std::optional<double>, 12>> percent;  // one row per year
};

// Trade results in bins of equal width: counts[i] holds the trades with
// edges[i] <= profit < edges[i + 1].
struct TradeHistogram {
    std::vector<double> edges;
    std::vector<uint64_t> counts;
};

// Mean and variance in one pass (Welford's update, stable for long tests).
class RunningMoments {
public:
    void Add(double x);
    int64_t Count() const { return n_; }
    double Mean() const { return mean_; }
    // Sample variance (n - 1); NaN below two values.
    double Variance() const;

private:
    int64_t n_ = 0;
    double mean_ = 0.0;
    double m2_ = 0.0;
};

// The union of the trades' open-to-close spans: how long at least one
// position was open. Trades arrive in closing order; spans that no trade
// still open can reach are added up and dropped, so only a few are kept.
class ExposureTracker {
public:
    static constexpr int64_t NoneOpen = std::numeric_limits<int64_t>::max();
    // stillOpenSinceMs: the earliest open time of the positions still open
    // once this trade has closed (NoneOpen when none is).
    void Add(int64_t openMs, int64_t closeMs, int64_t stillOpenSinceMs);
    int64_t CoveredMs() const;

private:
    struct Span {
        int64_t from;
        int64_t to;
    };
    std::vector<Span> pending_;  // disjoint, in time order
    int64_t settled_ = 0;
};

// The histogram's bins, from the trades' profits in cents: a rough count
// kept at a fine width (widths of 1 and 5 times a power of ten cents, each a
// whole multiple of the one before, so bins merge exactly when the range
// grows), and at the end the final width chosen from the range alone.
class ProfitBins {
public:
    void Add(double profit);
    TradeHistogram Result() const;

    // Most bins of the fine count; the final histogram has at most
    // ceil(log2 n) + 1 (Sturges' rule), far fewer.
    static constexpr int64_t MaxFineBins = 2048;

private:
    void Coarsen();
    int64_t n_ = 0;
    int64_t lowCents_ = 0;
    int64_t highCents_ = 0;
    int64_t width_ = 1;        // cents
    int64_t firstBin_ = 0;     // the bin of counts_[0], in widths
    std::vector<uint64_t> counts_;
};

// Sturges' bin count and the width of the histogram of a profit range
// (cents): the smallest of 1, 2, 5 x 10^k cents whose bins, on multiples of
// the width, cover the range in at most that many.
int64_t HistogramBins(int64_t trades);
int64_t HistogramWidthCents(int64_t lowCents, int64_t highCents, int64_t bins);

// The ratios that need the drawdown figures take them as arguments.
struct PerformanceFigures {
    double sharpeAnnual;
    double sortinoAnnual;
    double cagrPercent;
    double sqn;
    double exposurePercent;
    uint64_t averageHoldingSeconds;
    double averageMae;
    double averageMfe;
    double worstMae;
    double bestMfe;
    MonthlyReturns monthly;
    TradeHistogram histogram;
};

class PerformanceAccumulator {
public:
    explicit PerformanceAccumulator(double deposit);
    // A closed trade: its profit, open and close times, excursions (money).
    void AddTrade(double profit, int64_t openMs, int64_t closeMs, double mae, double mfe, int64_t stillOpenSinceMs);
    // A row of equity.csv, in time order.
    void AddRow(int64_t timeMs, double equity);
    PerformanceFigures Result() const;

private:
    void CloseDay();
    void CloseMonth();

    double deposit_;
    // days
    bool anyRow_ = false;
    int64_t firstRowMs_ = 0;
    int64_t lastRowMs_ = 0;
    double lastEquity_ = 0.0;
    int64_t day_ = 0;
    double dayBefore_ = 0.0;  // the equity at the end of the day before
    RunningMoments daily_;
    double downsideSquares_ = 0.0;
    // months
    int32_t month_ = 0;  // year * 12 + month - 1
    double monthBefore_ = 0.0;
    MonthlyReturns monthly_;
    // trades
    RunningMoments profits_;
    ExposureTracker exposure_;
    int64_t heldMs_ = 0;
    double maeSum_ = 0.0;
    double mfeSum_ = 0.0;
    double worstMae_ = 0.0;
    double bestMfe_ = 0.0;
    ProfitBins bins_;
};

}  // namespace torvik::tester
