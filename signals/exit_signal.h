// CloseSignal: the exit decision. Both sides are tested on every call and the
// side of the open position is never consulted.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

struct ExitInputs {
    double wprB;
    double c1;
    double lossDist;
    double profitDist;
};

// ---- the pure parts, shared by every form of the decision
bool CheckBuyExit(const EngineState& s, const ExitInputs& in);
bool CheckSellExit(const EngineState& s, const ExitInputs& in);

// ---- the library's form: the inputs gathered once for both tests
ExitInputs GatherExitInputs(const EngineState& s);

// 0 keep, 1 a buy-exit rule holds, 2 a sell-exit rule holds (2 wins).
int32_t CloseSignal(const EngineState& s);

}  // namespace torvik
