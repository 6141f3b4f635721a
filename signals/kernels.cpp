#include "signals/kernels.h"

#include <algorithm>
#include <cmath>

#include "engine/rounding.h"

namespace torvik {

namespace {

// The walks below visit bars from L-1 toward bar 1, one bar per step, and at
// each bar do exactly the additions and divisions that the whole-array forms
// do there; they just keep no array and stop at bar 1.

// The smoothed average: the seed sums S[L-1] .. S[L-P], oldest sample first,
// and divides by P at bar L-P; every newer bar then gives
// ((P-1) x previous + sample) / P. Each step waits for the one before it, so
// this chain of some L - P multiply-add-divides sets the pace of the walk.
struct SmoothedWalk {
    int32_t seedBar;
    double divisor;
    double keep;
    double sum;
    double value;
};

SmoothedWalk StartSmoothedWalk(int32_t period, int32_t L)
{
    return SmoothedWalk{L - period, static_cast<double>(period), static_cast<double>(period - 1), 0.0, 0.0};
}

void VisitSmoothed(SmoothedWalk& w, int32_t i, double sample)
{
    if (i >= w.seedBar) {
        w.sum += sample;
        if (i == w.seedBar) w.value = w.sum / w.divisor;
    } else {
        w.value = (w.keep * w.value + sample) / w.divisor;
    }
}

// The running sum of a simple average, from the oldest window: the P-1
// oldest samples go in first; from bar L-P on, each bar's sample goes in, the
// average at that bar is the sum over P, and then the sample P-1 bars older
// goes out. Bar 1's average is taken right after bar 1's sample went in, so
// the walk never takes the last sample out.
struct RunningSumWalk {
    int32_t period;
    int32_t firstWindowBar;
    double sum;
};

RunningSumWalk StartRunningSumWalk(int32_t period, int32_t L) { return RunningSumWalk{period, L - period, 0.0}; }

// sampleAt(i) gives the sample of bar i; it is asked again for a bar when
// that bar's sample leaves the window.
template <typename SampleAt>
void VisitRunningSum(RunningSumWalk& w, int32_t i, const SampleAt& sampleAt)
{
    w.sum += sampleAt(i);
    if (i <= w.firstWindowBar && i > KernelBar) w.sum -= sampleAt(i + w.period - 1);
}

double RunningAverage(const RunningSumWalk& w) { return w.sum / static_cast<double>(w.period); }

// The true range of bar i against the close of the next older bar; bar L-1
// has only its own range, since the close of bar L is not used.
double TrueRange(const EngineState& s, int32_t L, int32_t i)
{
    if (i == L - 1) return s.highSeries[i] - s.lowSeries[i];
    const double prevClose = s.closeSeries[i + 1];
    return std::max(s.highSeries[i], prevClose) - std::min(s.lowSeries[i], prevClose);
}

// (TP[1] - M) / (0.015 / P x the sum of |TP[k] - M| for k from P down to 1),
// or 0.0 when that scaled deviation is exactly 0.
double CciFromMean(const EngineState& s, int32_t period, double mean)
{
    const double factor = CciScale / static_cast<double>(period);
    double deviation = 0.0;
    for (int32_t k = period; k >= KernelBar; --k) deviation += std::fabs(s.typicalSeries[k] - mean);
    const double scaled = factor * deviation;
    if (scaled == 0.0) return 0.0;
    return (s.typicalSeries[KernelBar] - mean) / scaled;
}

}  // namespace

WalkedKernels ComputeWalkedKernels(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod, int32_t cciPeriod)
{
    const int32_t L = UsableLastBarIndex(s);
    // L > P >= 1 also puts bar 1 inside 0..L-1, and keeps every index the
    // walks read, up to L-1, inside the series.
    const bool smoothedDefined = smmaPeriod >= 1 && L > smmaPeriod;
    const bool trueRangeDefined = atrPeriod >= 1 && atrPeriod <= MaxAtrPeriod && L > atrPeriod;
    const bool cciDefined = cciPeriod > 1 && L > cciPeriod;

    SmoothedWalk smoothed = StartSmoothedWalk(smoothedDefined ? smmaPeriod : 1, L);
    RunningSumWalk trueRange = StartRunningSumWalk(trueRangeDefined ? atrPeriod : 1, L);
    RunningSumWalk typical = StartRunningSumWalk(cciDefined ? cciPeriod : 1, L);
    const auto trueRangeAt = [&s, L](int32_t i) { return TrueRange(s, L, i); };
    const auto typicalAt = [&s](int32_t i) { return s.typicalSeries[i]; };

    // One loop for the three chains: they do not depend on one another, so
    // the running sums proceed while the smoothed step waits on its division.
    if (smoothedDefined || trueRangeDefined || cciDefined) {
        for (int32_t i = L - 1; i >= KernelBar; --i) {
            if (smoothedDefined) VisitSmoothed(smoothed, i, s.closeSeries[i]);
            if (trueRangeDefined) VisitRunningSum(trueRange, i, trueRangeAt);
            if (cciDefined) VisitRunningSum(typical, i, typicalAt);
        }
    }

    WalkedKernels k{};
    if (smoothedDefined) k.smoothedClose = smoothed.value;
    if (trueRangeDefined) k.averageTrueRange = RunningAverage(trueRange);
    if (cciDefined) k.cci = CciFromMean(s, cciPeriod, RunningAverage(typical));
    return k;
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
