// Indicator kernels read at bar 1: the smoothed average of the close,
// Williams %R, the average true range and the commodity channel index. Each
// is a pure function of the record and its periods, computes only what bar 1
// needs, and none reads the oldest bar L.
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

// The three kernels that rest on a walk over every bar from L-1 to bar 1.
struct WalkedKernels {
    double smoothedClose;     // smoothed average of the close
    double averageTrueRange;  // simple average of the true range
    double cci;               // commodity channel index of the typical price
};

// All three at bar 1, in one walk from bar L-1 toward bar 1 whose steps
// interleave the smoothed recursion with the true-range and typical-price
// running sums. Each keeps the order of operations of its whole-array form
// (the running sums from the oldest window, the smoothed recursion seeded at
// L - P), so the results are the same bits; the three chains are independent
// and their latencies overlap. A kernel without a value gives 0.0: a period
// below 1, L <= period, a true-range period above 450, a CCI period of 1 or
// less, or a CCI whose scaled deviation is exactly 0.
WalkedKernels ComputeWalkedKernels(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod,
                                   int32_t cciPeriod);

// Williams %R over bars 1..period, for lastBarIndex L as it stands (the
// window never reaches bar L): 0.0 when L <= period, -50.0 when
// L = period + 1 or when the window has no range.
double ComputeWilliamsR(const EngineState& s, int32_t period);

}  // namespace torvik
