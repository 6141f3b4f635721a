// The kernels in their straightforward form: each builds its whole array of
// averages (the true-range kernel its array of true ranges too) from the
// series on every call and reads one entry. The library's decisions use
// signals/kernels.h, which walks the bars once and keeps only bar 1; this
// form stays as the definition that one must match bit for bit.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "signals/kernels.h"

namespace torvik::reference {

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

}  // namespace torvik::reference
