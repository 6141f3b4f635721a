#include "signals/kernels.h"

#include <algorithm>
#include <cmath>

#include "engine/rounding.h"

namespace torvik {

namespace {

// The walks visit bars from L-1 toward bar 1, one bar per step, and at each
// bar do exactly the additions and divisions that the whole-array forms do
// there; they just keep no array and stop at bar 1.

void StepSmoothed(SmoothedWalk& w, const Series& close)
{
    const int32_t i = w.next--;
    if (i >= w.seedBar) {
        w.sum += close[i];
        if (i == w.seedBar) w.value = w.sum / w.divisor;
    } else {
        // Each step waits for the one before it: this chain of some L - P
        // multiply-add-divides is the slowest part of any walk.
        w.value = (w.keep * w.value + close[i]) / w.divisor;
    }
}

// Only a defined walk counts back from L: any period may come in, down to
// -2147483648, where L - period would overflow.
RunningSumWalk StartRunningSum(bool defined, int32_t period, int32_t L)
{
    if (!defined) return RunningSumWalk{false, 1, KernelBar - 1, 0.0};
    return RunningSumWalk{true, period, L - period, 0.0};
}

// Bar i's sample goes in; from the oldest full window on, the sample P-1
// bars older (samples[i + P - 1]) goes out, except at bar 1, where the
// average is taken.
void VisitRunningSum(RunningSumWalk& w, int32_t i, double sample, const double* samples)
{
    w.sum += sample;
    if (i <= w.firstWindowBar && i > KernelBar) w.sum -= samples[i + w.period - 1];
}

double RunningAverage(const RunningSumWalk& w) { return w.defined ? w.sum / static_cast<double>(w.period) : 0.0; }

// The true range of bar i against the close of the next older bar; bar L-1
// has only its own range, since the close of bar L is not used.
double TrueRange(const EngineState& s, int32_t L, int32_t i)
{
    if (i == L - 1) return s.highSeries[i] - s.lowSeries[i];
    const double prevClose = s.closeSeries[i + 1];
    return std::max(s.highSeries[i], prevClose) - std::min(s.lowSeries[i], prevClose);
}

}  // namespace

KernelWalks StartKernelWalks(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod, int32_t cciPeriod)
{
    const int32_t L = UsableLastBarIndex(s);
    // L > P >= 1 also puts bar 1 inside 0..L-1, and keeps every index the
    // walks read, up to L-1, inside the series.
    const bool smoothedDefined = smmaPeriod >= 1 && L > smmaPeriod;
    const bool trueRangeDefined = atrPeriod >= 1 && atrPeriod <= MaxAtrPeriod && L > atrPeriod;
    const bool cciDefined = cciPeriod > 1 && L > cciPeriod;

    KernelWalks w{};
    w.lastBar = L;
    if (smoothedDefined) {
        w.smoothed = SmoothedWalk{L - 1, L - smmaPeriod, static_cast<double>(smmaPeriod),
                                  static_cast<double>(smmaPeriod - 1), 0.0, 0.0};
    } else {
        w.smoothed.next = KernelBar - 1;
    }
    w.trueRange = StartRunningSum(trueRangeDefined, atrPeriod, L);
    w.typical = StartRunningSum(cciDefined, cciPeriod, L);
    return w;
}

// The walks run on local copies of their records: stepped through the
// caller's record, every sum would go to memory and back at each bar, since
// the compiler cannot tell that the record does not overlap the series.
void WalkRunningSums(KernelWalks& w, const EngineState& s, bool withTypical)
{
    RunningSumWalk trueRange = w.trueRange;
    RunningSumWalk typical = w.typical;
    SmoothedWalk smoothed = w.smoothed;
    const bool walkTrueRange = trueRange.defined;
    const bool walkTypical = withTypical && typical.defined;
    if (!walkTrueRange && !walkTypical) return;

    const int32_t L = w.lastBar;
    // A bar's true range goes into the sum and, P-1 bars later, out of it:
    // it is kept for that rather than computed twice.
    double trueRanges[SeriesCapacity];
    int32_t untilSmoothedStep = SmoothedWalkPace;
    for (int32_t i = L - 1; i >= KernelBar; --i) {
        if (walkTrueRange) {
            trueRanges[i] = TrueRange(s, L, i);
            VisitRunningSum(trueRange, i, trueRanges[i], trueRanges);
        }
        if (walkTypical) VisitRunningSum(typical, i, s.typicalSeries[i], s.typicalSeries);
        // The seed's additions are as quick as the sums': one per bar.
        if (smoothed.next < KernelBar) continue;
        if (smoothed.next >= smoothed.seedBar) {
            StepSmoothed(smoothed, s.closeSeries);
        } else if (--untilSmoothedStep == 0) {
            untilSmoothedStep = SmoothedWalkPace;
            StepSmoothed(smoothed, s.closeSeries);
        }
    }
    w.trueRange = trueRange;
    w.typical = typical;
    w.smoothed = smoothed;
}

void FinishSmoothedWalk(KernelWalks& w, const EngineState& s)
{
    SmoothedWalk smoothed = w.smoothed;
    while (smoothed.next >= KernelBar) StepSmoothed(smoothed, s.closeSeries);
    w.smoothed = smoothed;
}

double SmoothedCloseOf(const KernelWalks& w) { return w.smoothed.value; }

double AverageTrueRangeOf(const KernelWalks& w) { return RunningAverage(w.trueRange); }

double CciOf(const KernelWalks& w, const EngineState& s)
{
    if (!w.typical.defined) return 0.0;
    const int32_t period = w.typical.period;
    const double mean = RunningAverage(w.typical);
    const double factor = CciScale / static_cast<double>(period);
    double deviation = 0.0;
    for (int32_t k = period; k >= KernelBar; --k) deviation += std::fabs(s.typicalSeries[k] - mean);
    const double scaled = factor * deviation;
    if (scaled == 0.0) return 0.0;
    return (s.typicalSeries[KernelBar] - mean) / scaled;
}

WalkedKernels ComputeWalkedKernels(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod, int32_t cciPeriod)
{
    KernelWalks w = StartKernelWalks(s, smmaPeriod, atrPeriod, cciPeriod);
    WalkRunningSums(w, s, true);
    FinishSmoothedWalk(w, s);
    return WalkedKernels{SmoothedCloseOf(w), AverageTrueRangeOf(w), CciOf(w, s)};
}

double ComputeWilliamsR(const EngineState& s, int32_t period)
{
    // %R reads bars 1 to W and never counts back from L, so it takes
    // lastBarIndex as it stands, also one that a rejected Rft left beyond the
    // series: it then reads the kept bars, as every decision does after a
    // rejected Rft.
    const int64_t L = s.lastBarIndex;
    const int64_t W = period;
    if (L <= W) return 0.0;
    if (L == W + 1) return WilliamsRNoValue;

    // The window runs over bars 1..W (bar 1 alone for a period below 1), cut
    // at the end of the series as the window searches cut it. Among equal
    // extremes the window searches take the oldest; tracking the value with
    // >= and <= lands on the very same value.
    const int32_t oldest = static_cast<int32_t>(std::min<int64_t>(W, SeriesCapacity - 1));
    double highest = s.highSeries[KernelBar];
    double lowest = s.lowSeries[KernelBar];
    for (int32_t i = KernelBar + 1; i <= oldest; ++i) {
        if (s.highSeries[i] >= highest) highest = s.highSeries[i];
        if (s.lowSeries[i] <= lowest) lowest = s.lowSeries[i];
    }
    const double range = highest - lowest;
    if (NearlyEqual(range, 0.0)) return WilliamsRNoValue;
    return ((highest - s.closeSeries[KernelBar]) * (-100.0)) / range;
}

}  // namespace torvik
