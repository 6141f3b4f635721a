// Indicator kernels read at bar 1: moving averages, Williams %R, average true
// range and the commodity channel index. Each is a pure function of the
// record; none reads the oldest bar L.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

using Series = double[SeriesCapacity];

enum AverageMethod : int32_t {
    SimpleAverage = 0,
    SmoothedAverage = 2,
};

inline constexpr int32_t KernelBar = 1;  // the bar every decision reads
inline constexpr int32_t MaxAtrPeriod = 450;
inline constexpr double CciScale = 0.015;
// %R when the window has no range, or when the window reaches bar L: the
// middle of the scale, which neither an entry nor a reversal exit reads as a
// signal on its own.
inline constexpr double WilliamsRNoValue = -50.0;

// The average of the given kind whose newest sample is series[index], over
// the data up to series[L-1]. Periods below 1, unknown methods, indexes
// outside 0..L-1 and L <= period give 0.0.
double ComputeMovingAverage(const EngineState& s, int32_t period, const Series& series, int32_t method,
                            int32_t index);

// Williams %R over bars 1..period.
double ComputeWilliamsR(const EngineState& s, int32_t period);

// Simple average of the true range over atrPeriod bars at bar 1.
double ComputeAverageTrueRange(const EngineState& s);

// CCI over cciPeriod bars of the typical price at bar 1.
double ComputeCci(const EngineState& s);

}  // namespace torvik
