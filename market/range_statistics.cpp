#include "market/range_statistics.h"

#include <algorithm>

#include "engine/rounding.h"

namespace torvik {

namespace {

constexpr double MeasureDivisor = 96.0;
constexpr double BarRangeDivisor = 7.0;

bool InSeries(int32_t i) { return i >= 0 && i < SeriesCapacity; }

// Last index of a window, cut at the end of the series.
int32_t WindowEnd(int32_t count, int32_t start)
{
    const int64_t end = static_cast<int64_t>(start) + count - 1;
    return static_cast<int32_t>(std::min<int64_t>(end, SeriesCapacity - 1));
}

}  // namespace

int32_t FindHighestIndex(const EngineState& s, int32_t count, int32_t start)
{
    if (count <= 0 || !InSeries(start)) return start;
    double best = s.highSeries[start];
    int32_t bestIndex = start;
    const int32_t end = WindowEnd(count, start);
    for (int32_t i = start; i <= end; ++i) {
        if (s.highSeries[i] >= best) {
            best = s.highSeries[i];
            bestIndex = i;
        }
    }
    return bestIndex;
}

int32_t FindLowestIndex(const EngineState& s, int32_t count, int32_t start)
{
    if (count <= 0 || !InSeries(start)) return start;
    double best = s.lowSeries[start];
    int32_t bestIndex = start;
    const int32_t end = WindowEnd(count, start);
    for (int32_t i = start; i <= end; ++i) {
        if (s.lowSeries[i] <= best) {
            best = s.lowSeries[i];
            bestIndex = i;
        }
    }
    return bestIndex;
}

int32_t MeasureRangePips(const EngineState& s)
{
    const int32_t hi = FindHighestIndex(s, MeasureWindow, MeasureFirstIndex);
    const int32_t lo = FindLowestIndex(s, MeasureWindow, MeasureFirstIndex);
    return RoundHalfUpToInt((s.highSeries[hi] - s.lowSeries[lo]) / s.pipSize);
}

int32_t MeasureAverageBarRange(const EngineState& s)
{
    double sum = 0.0;
    for (int32_t i = MeasureFirstIndex; i < MeasureFirstIndex + MeasureWindow; ++i) {
        sum += s.highSeries[i] - s.lowSeries[i];
    }
    double v = sum / MeasureDivisor;
    v = v / s.pipSize;
    v = v / BarRangeDivisor;
    return RoundHalfUpToInt(v);
}

int32_t MeasureAverageVolume(const EngineState& s)
{
    double sum = 0.0;
    for (int32_t i = MeasureFirstIndex; i < MeasureFirstIndex + MeasureWindow; ++i) {
        sum += s.volumeSeries[i];
    }
    return RoundHalfUpToInt(sum / MeasureDivisor);
}

}  // namespace torvik
