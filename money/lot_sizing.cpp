#include "money/lot_sizing.h"

#include <cmath>
#include <cstring>

#include "engine/rounding.h"

namespace torvik {

namespace {

constexpr double CapFactor = 1.5;
constexpr int32_t PercentDigits = 2;
constexpr double PercentDivisor = 100.0;
constexpr int32_t HundredsDivisor = 100;
constexpr double MarginHeadroom = 1.05;
constexpr double DecimalStep = 0.1;
constexpr const char* SizedCurrencyCode = "USD";
// A positive double reaches 0.1 within about 330 divisions by 0.1.
constexpr int32_t MaxLotStepDigits = 400;

double CutBackToMargin(double lot, const LotRequest& r)
{
    // With a minimum lot of 0 or less the cut-back could never end.
    if (!(r.minLot > 0.0) || !(lot >= 2.0 * r.minLot)) return lot;
    for (int32_t i = 0; i < MaxMarginCutBacks; ++i) {
        if (lot * r.marginPerLot * MarginHeadroom < r.accountFunds) break;
        const double next = lot - r.minLot;
        // A subtraction that no longer changes the lot would repeat forever.
        if (next == lot) break;
        lot = next;
        if (lot < 2.0 * r.minLot) break;
    }
    return lot;
}

}  // namespace

int32_t LotStepDigits(double lotStep)
{
    if (lotStep >= DecimalStep) return 0;
    double v = lotStep;
    int32_t digits = 0;
    while (digits < MaxLotStepDigits) {
        v = v / DecimalStep;
        ++digits;
        if (!(v < DecimalStep)) break;
    }
    return digits;
}

double LOT(const LotRequest& r)
{
    if (r.symbol == nullptr) return 0.0;

    const double capPercent = RoundToDigits(CapFactor * r.riskPercent, PercentDigits);
    const double fixedLot = r.minLot > r.fixedLot ? r.minLot : r.fixedLot;
    double riskPercent = r.riskPercent;
    double sized = 0.0;

    if (riskPercent > 0.0) {
        if (r.riskSplit < 1 || r.lotDivisor < HundredsDivisor || !(r.lotStep > 0.0)) return 0.0;
        const double parts = static_cast<double>(r.riskSplit);
        riskPercent = RoundToDigits(riskPercent / parts, PercentDigits);
        const double partCap = RoundToDigits(capPercent / parts, PercentDigits);
        double used = riskPercent * r.riskMultiplier;
        if (used > partCap) used = partCap;
        const double hundreds = static_cast<double>(r.lotDivisor / HundredsDivisor);
        const double raw = r.lotStep * std::ceil(used / PercentDivisor * r.accountFunds / r.lotStep / hundreds);

        double lot = r.maxLot < raw ? r.maxLot : raw;
        lot = r.minLot > lot ? r.minLot : lot;
        lot = CutBackToMargin(lot, r);

        sized = RoundToDigits(lot, LotStepDigits(r.lotStep));
        if (r.minLot > sized) sized = r.minLot;
    }

    // Also when the part percent rounded to 0.00.
    if (riskPercent == 0.0) sized = fixedLot;

    const double candidate = std::strstr(r.symbol, SizedCurrencyCode) != nullptr ? sized : fixedLot;
    return r.minLot > candidate ? r.minLot : candidate;
}

}  // namespace torvik
