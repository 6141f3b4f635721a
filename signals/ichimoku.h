// The five Ichimoku lines (windows 16, 32 and 96, displacement 32), computed
// only at the indexes a caller asks for.
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

// What the lines hold at one index x, exactly as lines built over the whole
// series would: the midpoints of the 16-, 32- and 96-bar windows whose newest
// bar is x, span A = (base + conversion) x 0.5, and 0.0 wherever a line has
// no entry (a window that would reach bar L, an x outside 0..L-1, fewer than
// 98 bars). Span A and span B here are the lines' entries at x, which the
// LeadingSpan queries return for index x - 32.
struct IchimokuEntries {
    double conversion;
    double base;
    double spanA;
    double spanB;
};

// One scan from bar x toward older bars serves all three windows, since they
// share their newest bar; it stops at the longest window that has an entry.
IchimokuEntries ComputeIchimokuEntries(const EngineState& s, int32_t x);

// The line of the given kind at the given index, the same value as a rebuild
// of all five lines gives, from only the windows that one value needs. Kinds
// 3 and 4 read 32 entries older (index down to -32). Unknown kinds and
// indexes where the line has no value give 0.0.
double ComputeIchimokuLine(const EngineState& s, int32_t kind, int32_t index);

}  // namespace torvik
