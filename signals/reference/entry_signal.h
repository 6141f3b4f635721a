// The entry decision in its straightforward form: every line value is its own
// rebuild of the five lines, and the buy and the sell test each gather every
// kernel. Built from the same pure parts as the library's OpenSignal
// (signals/entry_signal.h), and kept as the definition it must match.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "signals/entry_signal.h"

namespace torvik::reference {

// The score's inputs at bar k (0 or 1): eleven line queries.
IchimokuScoreInputs GatherIchimokuScoreInputs(const EngineState& s, int32_t k);
int32_t ComputeIchimokuScore(const EngineState& s, int32_t k);

EntryInputs GatherEntryInputs(const EngineState& s);
bool CheckBuyEntry(const EngineState& s);
bool CheckSellEntry(const EngineState& s);

// 0 nothing, 1 buy, 2 sell.
int32_t OpenSignal(EngineState& s);

}  // namespace torvik::reference
