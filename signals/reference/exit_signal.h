// The exit decision in its straightforward form: each test gathers its own
// inputs. Built from the same pure parts as the library's CloseSignal
// (signals/exit_signal.h), and kept as the definition it must match.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "signals/exit_signal.h"

namespace torvik::reference {

ExitInputs GatherExitInputs(const EngineState& s);
bool CheckBuyExit(const EngineState& s);
bool CheckSellExit(const EngineState& s);

// 0 keep, 1 a buy-exit rule holds, 2 a sell-exit rule holds (2 wins).
int32_t CloseSignal(const EngineState& s);

}  // namespace torvik::reference
