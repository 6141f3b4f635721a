// The five Ichimoku lines (windows 16, 32 and 96, displacement 32).
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

enum IchimokuKind : int32_t {
    ConversionLine = 1,
    BaseLine = 2,
    LeadingSpanA = 3,
    LeadingSpanB = 4,
    LaggingLine = 5,
};

inline constexpr int32_t ConversionWindow = 16;
inline constexpr int32_t BaseWindow = 32;
inline constexpr int32_t SpanBWindow = 96;
inline constexpr int32_t IchimokuShift = 32;
// The lines need at least 98 bars: a last-bar index of 96 or less gives 0.0.
inline constexpr int32_t IchimokuMinLastBarIndex = 97;

// (highest high + lowest low) x 0.5 over bars x .. x+window-1; a later bar
// replaces an extreme only when strictly beyond it. The caller keeps the
// window inside the series.
double WindowMidpoint(const EngineState& s, int32_t x, int32_t window);

// The line of the given kind at the given index, rebuilt from the series on
// every call. Kinds 3 and 4 read 32 entries older (index down to -32).
// Unknown kinds and indexes where the line has no value give 0.0.
double ComputeIchimokuLine(const EngineState& s, int32_t kind, int32_t index);

}  // namespace torvik
