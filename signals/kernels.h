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

// ---- the three kernels that rest on a walk over every bar from L-1 to bar 1

// The smoothed average: the seed sums S[L-1] .. S[L-P], oldest sample first,
// and divides by P at bar L-P; every newer bar then gives
// ((P-1) x previous + sample) / P. A walk visits one bar per step and can
// stop after any of them, to go on later.
struct SmoothedWalk {
    int32_t next;     // the bar the next step visits; below bar 1 when done
    int32_t seedBar;  // L - P
    double divisor;   // P
    double keep;      // P - 1
    double sum;
    double value;
};

// The running sum of a simple average, from the oldest window: the P-1
// oldest samples go in first; from bar L-P on, each bar's sample goes in and
// then the sample P-1 bars older goes out, except at bar 1, where the
// average is taken.
struct RunningSumWalk {
    bool defined;
    int32_t period;
    int32_t firstWindowBar;  // L - P
    double sum;
};

// The walks of the smoothed average of the close, the true-range average and
// the CCI's average of the typical price. Each keeps the order of operations
// of its whole-array form, so its value at bar 1 is the same bits. A kernel
// without a value has nothing to walk and gives 0.0: a period below 1,
// L <= period, a true-range period above 450, a CCI period of 1 or less.
struct KernelWalks {
    int32_t lastBar;  // L
    SmoothedWalk smoothed;
    RunningSumWalk trueRange;
    RunningSumWalk typical;
};

KernelWalks StartKernelWalks(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod, int32_t cciPeriod);

// Walks the true-range sum and, with `withTypical`, the typical-price sum to
// bar 1, and takes the smoothed walk along: one step a bar through its seed,
// whose additions are as quick as the sums', then one for every
// SmoothedWalkPace bars. The sums cost two dependent additions a bar, a
// smoothed step a multiplication, an addition and a division, so the
// smoothed walk advances in the shadow of the sums: a decision the sums
// settle pays for the sums alone, and one that needs the smoothed average
// as well pays about what one walk of all three in step costs.
inline constexpr int32_t SmoothedWalkPace = 3;
void WalkRunningSums(KernelWalks& w, const EngineState& s, bool withTypical);

// Walks the smoothed average the rest of the way to bar 1.
void FinishSmoothedWalk(KernelWalks& w, const EngineState& s);

// The values at bar 1 of finished walks (0.0 for a kernel without a value).
double SmoothedCloseOf(const KernelWalks& w);
double AverageTrueRangeOf(const KernelWalks& w);
// (TP[1] - M) / (0.015 / P x the sum of |TP[k] - M| for k from P down to 1)
// with M the mean from the walk, or 0.0 when that scaled deviation is 0.
double CciOf(const KernelWalks& w, const EngineState& s);

struct WalkedKernels {
    double smoothedClose;     // smoothed average of the close
    double averageTrueRange;  // simple average of the true range
    double cci;               // commodity channel index of the typical price
};

// All three at bar 1, walked to the end.
WalkedKernels ComputeWalkedKernels(const EngineState& s, int32_t smmaPeriod, int32_t atrPeriod,
                                   int32_t cciPeriod);

// Williams %R over bars 1..period, for lastBarIndex L as it stands (the
// window never reaches bar L): 0.0 when L <= period, -50.0 when
// L = period + 1 or when the window has no range.
double ComputeWilliamsR(const EngineState& s, int32_t period);

}  // namespace torvik
