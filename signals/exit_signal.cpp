#include "signals/exit_signal.h"

#include "engine/rounding.h"
#include "signals/entry_signal.h"
#include "signals/kernels.h"

namespace torvik {

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

ExitInputs GatherExitInputs(const EngineState& s)
{
    ExitInputs in{};
    in.wprB = ComputeWilliamsR(s, s.wprPeriod2);
    in.c1 = s.closeSeries[KernelBar];
    // The stored loss bound is 0 or less: negate the int, then scale, then round.
    in.lossDist = RoundToDigits(static_cast<double>(WrapNeg(s.closeLossPips)) * s.pipSize, s.pipDigits);
    in.profitDist = PipsToPrice(s, s.closeProfitPips);
    return in;
}

int32_t CloseSignal(const EngineState& s)
{
    // Every exit rule needs an open position; without one neither test can
    // hold, whatever the inputs.
    if (s.hasPosition != 1) return SignalNone;
    // Both tests read the same inputs, so they are gathered once.
    const ExitInputs in = GatherExitInputs(s);
    int32_t result = SignalNone;
    if (CheckBuyExit(s, in)) result = SignalBuy;
    if (CheckSellExit(s, in)) result = SignalSell;
    return result;
}

}  // namespace torvik
