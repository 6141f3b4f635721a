// The Ichimoku lines in their straightforward form: every query rebuilds all
// five lines over the whole series and reads one entry. The library answers
// from signals/ichimoku.h, which scans only the windows a query needs; this
// form stays as the definition that one must match bit for bit.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "signals/ichimoku.h"

namespace torvik::reference {

// (highest high + lowest low) x 0.5 over bars x .. x+window-1; a later bar
// replaces an extreme only when strictly beyond it. The caller keeps the
// window inside the series.
double WindowMidpoint(const EngineState& s, int32_t x, int32_t window);

// The line of the given kind at the given index, rebuilt from the series on
// every call. Kinds 3 and 4 read 32 entries older (index down to -32).
// Unknown kinds and indexes where the line has no value give 0.0.
double ComputeIchimokuLine(const EngineState& s, int32_t kind, int32_t index);

}  // namespace torvik::reference
