// Window searches and the three measures of the 96 bars before the newest.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

inline constexpr int32_t MeasureFirstIndex = 1;
inline constexpr int32_t MeasureWindow = 96;

// Index of the highest high (lowest low) over the count entries from start
// toward older bars; among equal extremes the oldest wins. A count of 0 or
// less returns start. Entries outside the series are never read: a window is
// cut at the series' end, and a start outside it is returned unsearched.
int32_t FindHighestIndex(const EngineState& s, int32_t count, int32_t start);
int32_t FindLowestIndex(const EngineState& s, int32_t count, int32_t start);

// Highest high minus lowest low over bars 1..96, in pips, rounded half up.
int32_t MeasureRangePips(const EngineState& s);
// Mean high-low range over bars 1..96, in pips, divided by 7, rounded half up.
int32_t MeasureAverageBarRange(const EngineState& s);
// Mean volume over bars 1..96, rounded half up.
int32_t MeasureAverageVolume(const EngineState& s);

}  // namespace torvik
