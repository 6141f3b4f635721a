#include "tester/report/performance.h"

#include <algorithm>
#include <cmath>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double CentsPerUnit = 100.0;
constexpr int64_t MillisecondsPerSecond = 1000;
constexpr int32_t MonthsPerYear = 12;
constexpr double MaxCents = 1e15;  // ten trillion in money: far beyond any trade

// Money as the files hold it: rounded to cents.
double Cents(double money) { return std::round(money * CentsPerUnit) / CentsPerUnit; }

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// year * 12 + month - 1 of a time in milliseconds.
int32_t MonthOf(int64_t timeMs)
{
    const CivilTime t = FromBarTime(static_cast<uint32_t>(FloorDiv(timeMs, MillisecondsPerSecond)));
    return t.year * MonthsPerYear + t.month - 1;
}

// The next width of 1, 2, 5 x 10^k.
int64_t NextWidth(int64_t w)
{
    int64_t decade = 1;
    while (w / decade >= 10) decade *= 10;
    return w / decade == 2 ? w / 2 * 5 : w * 2;
}

}  // namespace

// ---- moments

void RunningMoments::Add(double x)
{
    ++n_;
    const double delta = x - mean_;
    mean_ += delta / static_cast<double>(n_);
    m2_ += delta * (x - mean_);
}

double RunningMoments::Variance() const { return n_ < 2 ? NaN : m2_ / static_cast<double>(n_ - 1); }

// ---- time in the market

void ExposureTracker::Add(int64_t openMs, int64_t closeMs, int64_t stillOpenSinceMs)
{
    const auto merge = [this](Span s) {
        while (!pending_.empty() && pending_.back().to >= s.from) {
            s.from = std::min(s.from, pending_.back().from);
            s.to = std::max(s.to, pending_.back().to);
            pending_.pop_back();
        }
        pending_.push_back(s);
    };
    merge(Span{openMs, std::max(openMs, closeMs)});
    // A position still open has been open since its open time until now at
    // least: that span is in the union whatever comes, and every span that
    // ends before it can no longer grow.
    const int64_t reach = std::min(stillOpenSinceMs, closeMs);
    if (stillOpenSinceMs != NoneOpen) merge(Span{reach, closeMs});
    size_t done = 0;
    while (done < pending_.size() && (pending_[done].to < reach || stillOpenSinceMs == NoneOpen)) {
        settled_ += pending_[done].to - pending_[done].from;
        ++done;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

int64_t ExposureTracker::CoveredMs() const
{
    int64_t total = settled_;
    for (const Span& s : pending_) total += s.to - s.from;
    return total;
}

// ---- histogram

int64_t HistogramBins(int64_t trades)
{
    if (trades <= 0) return 0;
    int64_t log2 = 0;
    while (log2 < 62 && (int64_t{1} << log2) < trades) ++log2;
    return log2 + 1;
}

int64_t HistogramWidthCents(int64_t lowCents, int64_t highCents, int64_t bins)
{
    static constexpr int64_t Steps[] = {1, 2, 5};
    int64_t scale = 1;
    // Bounded: at 10^17 cents every range of int64 cents fits in two bins.
    for (int32_t decade = 0; decade < 18; ++decade, scale *= 10) {
        for (const int64_t step : Steps) {
            const int64_t w = step * scale;
            if (FloorDiv(highCents, w) - FloorDiv(lowCents, w) + 1 <= bins) return w;
        }
    }
    return scale;
}

void ProfitBins::Add(double profit)
{
    // Bounded (and a number) before it is made whole: no overflow whatever comes.
    const double scaled = std::isfinite(profit) ? std::clamp(profit * CentsPerUnit, -MaxCents, MaxCents) : 0.0;
    const auto cents = static_cast<int64_t>(std::llround(scaled));
    if (n_++ == 0) {
        lowCents_ = highCents_ = cents;
        width_ = 1;
        firstBin_ = cents;
        counts_.assign(1, 0);
    }
    lowCents_ = std::min(lowCents_, cents);
    highCents_ = std::max(highCents_, cents);
    while (FloorDiv(highCents_, width_) - FloorDiv(lowCents_, width_) + 1 > MaxFineBins) Coarsen();
    const int64_t bin = FloorDiv(cents, width_);
    if (bin < firstBin_) {
        counts_.insert(counts_.begin(), static_cast<size_t>(firstBin_ - bin), 0);
        firstBin_ = bin;
    }
    const auto at = static_cast<size_t>(bin - firstBin_);
    if (at >= counts_.size()) counts_.resize(at + 1, 0);
    ++counts_[at];
}

void ProfitBins::Coarsen()
{
    // 1 x 10^k -> 5 x 10^k -> 10^(k+1): each width a multiple of the one before.
    int64_t decade = 1;
    while (width_ / decade >= 10) decade *= 10;
    const int64_t factor = width_ / decade == 1 ? 5 : 2;
    const int64_t first = FloorDiv(firstBin_, factor);
    std::vector<uint64_t> merged(static_cast<size_t>(FloorDiv(firstBin_ + static_cast<int64_t>(counts_.size()) - 1,
                                                              factor) - first + 1),
                                 0);
    for (size_t i = 0; i < counts_.size(); ++i) {
        merged[static_cast<size_t>(FloorDiv(firstBin_ + static_cast<int64_t>(i), factor) - first)] += counts_[i];
    }
    counts_ = std::move(merged);
    firstBin_ = first;
    width_ *= factor;
}

TradeHistogram ProfitBins::Result() const
{
    TradeHistogram h;
    if (n_ == 0) return h;
    int64_t width = HistogramWidthCents(lowCents_, highCents_, HistogramBins(n_));
    // The fine count's width divides the final one (its range spans hundreds
    // of fine bins before it coarsens, the final width a few dozenth of it);
    // should it not, the next width up that it divides is taken.
    while (width % width_ != 0) width = NextWidth(width);
    const int64_t first = FloorDiv(lowCents_, width);
    const int64_t bins = FloorDiv(highCents_, width) - first + 1;
    h.counts.assign(static_cast<size_t>(bins), 0);
    for (int64_t i = 0; i <= bins; ++i) h.edges.push_back(static_cast<double>((first + i) * width) / CentsPerUnit);
    for (size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] == 0) continue;
        const int64_t lowEdge = (firstBin_ + static_cast<int64_t>(i)) * width_;
        h.counts[static_cast<size_t>(FloorDiv(lowEdge, width) - first)] += counts_[i];
    }
    return h;
}

// ---- the accumulator

PerformanceAccumulator::PerformanceAccumulator(double deposit) : deposit_(deposit) {}

void PerformanceAccumulator::AddTrade(double profit, int64_t openMs, int64_t closeMs, double mae, double mfe,
                                      int64_t stillOpenSinceMs)
{
    const bool first = profits_.Count() == 0;
    profits_.Add(profit);
    exposure_.Add(openMs, closeMs, stillOpenSinceMs);
    heldMs_ += std::max<int64_t>(0, closeMs - openMs);
    const double adverse = Cents(mae), favourable = Cents(mfe);
    maeSum_ += adverse;
    mfeSum_ += favourable;
    worstMae_ = first ? adverse : std::min(worstMae_, adverse);
    bestMfe_ = first ? favourable : std::max(bestMfe_, favourable);
    bins_.Add(profit);
}

void PerformanceAccumulator::AddRow(int64_t timeMs, double equity)
{
    const int64_t day = FloorDiv(timeMs, MillisecondsPerDay);
    const int32_t month = MonthOf(timeMs);
    if (!anyRow_) {
        anyRow_ = true;
        firstRowMs_ = timeMs;
        day_ = day;
        dayBefore_ = deposit_;
        month_ = month;
        monthBefore_ = deposit_;
    }
    if (day != day_) {
        CloseDay();
        dayBefore_ = lastEquity_;
        day_ = day;
    }
    if (month != month_) {
        CloseMonth();
        monthBefore_ = lastEquity_;
        month_ = month;
    }
    lastEquity_ = Cents(equity);
    lastRowMs_ = timeMs;
}

void PerformanceAccumulator::CloseDay()
{
    // An account left with nothing ends the test: no day starts from it.
    if (!(dayBefore_ > 0.0)) return;
    const double r = lastEquity_ / dayBefore_ - 1.0;
    daily_.Add(r);
    if (r < 0.0) downsideSquares_ += r * r;
}

void PerformanceAccumulator::CloseMonth()
{
    const int32_t year = month_ / MonthsPerYear;
    if (monthly_.years.empty()) {
        monthly_.years.push_back(year);
        monthly_.percent.emplace_back();
    }
    while (monthly_.years.back() < year) {
        monthly_.years.push_back(monthly_.years.back() + 1);
        monthly_.percent.emplace_back();
    }
    if (monthBefore_ > 0.0) {
        monthly_.percent.back()[static_cast<size_t>(month_ % MonthsPerYear)] =
            (lastEquity_ / monthBefore_ - 1.0) * 100.0;
    }
}

PerformanceFigures PerformanceAccumulator::Result() const
{
    PerformanceAccumulator a = *this;  // the last day and month close here
    if (a.anyRow_) {
        a.CloseDay();
        a.CloseMonth();
    }
    PerformanceFigures f{};
    const double annual = std::sqrt(TradingDaysPerYear);
    const int64_t days = a.daily_.Count();
    const double deviation = std::sqrt(a.daily_.Variance());
    f.sharpeAnnual = days >= 2 && deviation > 0.0 ? a.daily_.Mean() / deviation * annual : NaN;
    const double downside = days > 0 ? std::sqrt(a.downsideSquares_ / static_cast<double>(days)) : 0.0;
    f.sortinoAnnual = days >= 2 && downside > 0.0 ? a.daily_.Mean() / downside * annual : NaN;

    const int64_t spanMs = a.lastRowMs_ - a.firstRowMs_;
    f.cagrPercent = NaN;
    if (a.anyRow_ && spanMs >= MillisecondsPerDay) {
        const double years = static_cast<double>(spanMs) / (static_cast<double>(MillisecondsPerDay) * DaysPerYear);
        f.cagrPercent = a.lastEquity_ > 0.0 ? (std::pow(a.lastEquity_ / deposit_, 1.0 / years) - 1.0) * 100.0 : -100.0;
    }
    f.exposurePercent =
        spanMs > 0 ? static_cast<double>(a.exposure_.CoveredMs()) / static_cast<double>(spanMs) * 100.0 : NaN;

    const int64_t trades = a.profits_.Count();
    const double spread = std::sqrt(a.profits_.Variance());
    f.sqn = trades >= 2 && spread > 0.0 ? std::sqrt(static_cast<double>(trades)) * a.profits_.Mean() / spread : NaN;
    f.averageHoldingSeconds =
        trades > 0 ? static_cast<uint64_t>(std::llround(static_cast<double>(a.heldMs_) / static_cast<double>(trades) /
                                                        static_cast<double>(MillisecondsPerSecond)))
                   : 0;
    const double n = static_cast<double>(trades);
    f.averageMae = trades > 0 ? a.maeSum_ / n : NaN;
    f.averageMfe = trades > 0 ? a.mfeSum_ / n : NaN;
    f.worstMae = trades > 0 ? a.worstMae_ : NaN;
    f.bestMfe = trades > 0 ? a.bestMfe_ : NaN;
    f.monthly = a.monthly_;
    f.histogram = a.bins_.Result();
    return f;
}

}  // namespace torvik::tester
