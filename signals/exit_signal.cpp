#include "signals/exit_signal.h"

#include "engine/rounding.h"
#include "signals/entry_signal.h"
#include "signals/kernels.h"

namespace torvik {

ExitInputs GatherExitInputs(const EngineState& s)
{
    ExitInputs in{};
    in.wprB = ComputeWilliamsR(s, s.wprPeriod2);
    in.c1 = s.closeSeries[KernelBar];
    // The stored loss bound is 0 or less: negate the int, then scale, then round.
    in.lossDist = RoundToDigits(static_cast<double>(WrapNeg(s.closeLossPips)) * s.pipSize, s.pipDigits);
    in.profitDist = RoundToDigits(static_cast<double>(s.closeProfitPips) * s.pipSize, s.pipDigits);
    return in;
}

bool CheckBuyExit(const EngineState& s, const ExitInputs& in)
{
    if (s.hasPosition != 1) return false;
    const double open = s.positionOpenPrice;
    const bool reversal = open - s.bidPrice <= in.lossDist && in.c1 - s.bidPrice <= s.pipTolerance &&
                          in.wprB > s.wprBuyLevel3;
    const bool profit = s.refPrevClose < s.refPrevOpen && s.bidPrice - open >= in.profitDist;
    return reversal || profit;
}

bool CheckSellExit(const EngineState& s, const ExitInputs& in)
{
    if (s.hasPosition != 1) return false;
    const double open = s.positionOpenPrice;
    const bool reversal = s.askPrice - open <= in.lossDist && in.c1 - s.askPrice >= -s.pipTolerance &&
                          in.wprB < s.wprSellLevel3;
    const bool profit = s.refPrevClose > s.refPrevOpen && open - s.askPrice >= in.profitDist;
    return reversal || profit;
}

bool CheckBuyExit(const EngineState& s) { return CheckBuyExit(s, GatherExitInputs(s)); }
bool CheckSellExit(const EngineState& s) { return CheckSellExit(s, GatherExitInputs(s)); }

int32_t CloseSignal(const EngineState& s)
{
    int32_t result = SignalNone;
    if (CheckBuyExit(s)) result = SignalBuy;
    if (CheckSellExit(s)) result = SignalSell;
    return result;
}

}  // namespace torvik
