#include "signals/reference/kernels.h"

#include <algorithm>
#include <cmath>

#include "engine/rounding.h"
#include "market/range_statistics.h"

namespace torvik::reference {

double ComputeMovingAverage(const EngineState& s, int32_t period, const Series& series, int32_t method,
                            int32_t index)
{
    const int32_t L = UsableLastBarIndex(s);
    const int32_t P = period;
    if (P < 1 || index < 0 || index > L - 1) return 0.0;
    if (method != SimpleAverage && method != SmoothedAverage) return 0.0;
    if (L <= P) return 0.0;

    Series average = {};
    const double divisor = static_cast<double>(P);
    if (method == SimpleAverage) {
        double sum = 0.0;
        for (int32_t i = L - 1; i >= L - P + 1; --i) sum += series[i];
        for (int32_t j = L - P; j >= 0; --j) {
            sum += series[j];
            average[j] = sum / divisor;
            sum -= series[j + P - 1];
        }
    } else {
        // Seeded with the mean of the oldest full window, oldest sample first.
        const int32_t seed = L - P;
        double sum = 0.0;
        for (int32_t i = L - 1; i >= seed; --i) sum += series[i];
        average[seed] = sum / divisor;
        const double keep = static_cast<double>(P - 1);
        for (int32_t j = seed - 1; j >= 0; --j) {
            average[j] = (keep * average[j + 1] + series[j]) / divisor;
        }
    }
    return average[index];
}

double ComputeWilliamsR(const EngineState& s, int32_t period)
{
    // Bars 1 to W only, whatever lastBarIndex says; the window searches cut
    // the window at the end of the series.
    const int64_t L = s.lastBarIndex;
    const int32_t W = period;
    if (L <= W) return 0.0;
    if (L == static_cast<int64_t>(W) + 1) return WilliamsRNoValue;

    const double highest = s.highSeries[FindHighestIndex(s, W, KernelBar)];
    const double lowest = s.lowSeries[FindLowestIndex(s, W, KernelBar)];
    const double range = highest - lowest;
    if (NearlyEqual(range, 0.0)) return WilliamsRNoValue;
    return ((highest - s.closeSeries[KernelBar]) * (-100.0)) / range;
}

double ComputeAverageTrueRange(const EngineState& s)
{
    const int32_t L = UsableLastBarIndex(s);
    const int32_t P = s.atrPeriod;
    if (P > MaxAtrPeriod) return 0.0;
    if (P < 1) return 0.0;  // uncalibrated: the average would divide by zero
    if (L <= P) return 0.0;

    Series trueRange = {};
    trueRange[L - 1] = s.highSeries[L - 1] - s.lowSeries[L - 1];
    for (int32_t i = L - 2; i >= 0; --i) {
        const double prevClose = s.closeSeries[i + 1];
        trueRange[i] = std::max(s.highSeries[i], prevClose) - std::min(s.lowSeries[i], prevClose);
    }
    return ComputeMovingAverage(s, P, trueRange, SimpleAverage, KernelBar);
}

double ComputeCci(const EngineState& s)
{
    const int32_t L = UsableLastBarIndex(s);
    const int32_t P = s.cciPeriod;
    if (P <= 1) return 0.0;
    if (L <= P) return 0.0;

    const double mean = ComputeMovingAverage(s, P, s.typicalSeries, SimpleAverage, KernelBar);
    const double factor = CciScale / static_cast<double>(P);
    double deviation = 0.0;
    for (int32_t k = P; k >= 1; --k) deviation += std::fabs(s.typicalSeries[k] - mean);
    const double scaled = factor * deviation;
    if (scaled == 0.0) return 0.0;
    return (s.typicalSeries[KernelBar] - mean) / scaled;
}

}  // namespace torvik::reference
