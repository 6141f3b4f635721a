#include "signals/reference/exit_signal.h"

#include "engine/rounding.h"
#include "signals/entry_signal.h"
#include "signals/reference/kernels.h"

// Calls into this form are qualified: the library's form declares the same
// names in torvik, where argument-dependent lookup would find them too.
namespace torvik::reference {

ExitInputs GatherExitInputs(const EngineState& s)
{
    ExitInputs in{};
    in.wprB = reference::ComputeWilliamsR(s, s.wprPeriod2);
    in.c1 = s.closeSeries[KernelBar];
    // The stored loss bound is 0 or less: negate the int, then scale, then round.
    in.lossDist = RoundToDigits(static_cast<double>(WrapNeg(s.closeLossPips)) * s.pipSize, s.pipDigits);
    in.profitDist = RoundToDigits(static_cast<double>(s.closeProfitPips) * s.pipSize, s.pipDigits);
    return in;
}

bool CheckBuyExit(const EngineState& s) { return torvik::CheckBuyExit(s, reference::GatherExitInputs(s)); }
bool CheckSellExit(const EngineState& s) { return torvik::CheckSellExit(s, reference::GatherExitInputs(s)); }

int32_t CloseSignal(const EngineState& s)
{
    int32_t result = SignalNone;
    if (reference::CheckBuyExit(s)) result = SignalBuy;
    if (reference::CheckSellExit(s)) result = SignalSell;
    return result;
}

}  // namespace torvik::reference
