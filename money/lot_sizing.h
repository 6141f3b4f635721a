// LOT: the position size from the account's funds, a risk percentage and the
// lot limits. Reads nothing of the engine state.
#pragma once

#include <cstdint>

namespace torvik {

struct LotRequest {
    double fixedLot;
    double riskPercent;
    double riskMultiplier;
    double minLot;
    double maxLot;
    double lotStep;
    int32_t lotDivisor;
    double accountFunds;
    double marginPerLot;
    int32_t riskSplit;
    const char* symbol;
};

// Cut-backs of the margin check before it gives up with the lot it has.
inline constexpr int32_t MaxMarginCutBacks = 1000000;

// Decimal digits of a lot step, counted by repeated division by 0.1.
int32_t LotStepDigits(double lotStep);

// 0.0 when the request cannot be sized: a null symbol, or sizing switched on
// with a riskSplit below 1, a lotDivisor below 100 or a lotStep not above 0.
double LOT(const LotRequest& r);

}  // namespace torvik
