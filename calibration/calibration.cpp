#include "calibration/calibration.h"

#include <algorithm>
#include <cstring>

#include "calibration/instrument_profiles.h"
#include "engine/rounding.h"
#include "market/range_statistics.h"

namespace torvik {

namespace {

constexpr const char* AccountCurrencyCode = "USD";

constexpr int32_t FoldLow = 100;
constexpr int32_t FoldHigh = 200;

constexpr int32_t MinStopLossPips = 100;
constexpr int32_t MinTakeProfitPips = 10;
constexpr int32_t StopLossRangeDivisor = 2;
constexpr int32_t TakeProfitRangeDivisor = 12;
constexpr int32_t Hhh1Divisor = 75;
constexpr int32_t MaxHhh1 = 5;
constexpr double Hhh2Divisor = 7.5;
constexpr int32_t MaxHhh2 = 30;
constexpr int32_t SpreadFloorMargin = 4;
constexpr double CloseLossDivisor = 1.7;
constexpr int32_t MinAtrDivisor = 20;
constexpr int32_t MinAtrLow = 6, MinAtrHigh = 10;
constexpr int32_t CciLevelDivisor = 2;
constexpr double SmmaGap1Divisor = 12.5;
constexpr int32_t MaxSmmaGap1 = 20;
constexpr double SmmaGap2Divisor = 4.5;
constexpr int32_t SmmaGap2Low = 14, SmmaGap2High = 50;
constexpr double WprLevel1Divisor = 1.9;
constexpr double WprLevel2Divisor = 1.8;
constexpr int32_t WprScaleBottom = -100;
constexpr int32_t DerivedCloseProfitPips = 20;
constexpr double SmmaPeriodDivisor = 1.87;
constexpr int32_t SmmaPeriodLow = 60, SmmaPeriodHigh = 100;
constexpr double CciPeriodDivisor = 7.5;
constexpr double AtrPeriodDivisor = 7.8;
constexpr int32_t PeriodLow = 10, PeriodHigh = 30;
constexpr double WprPeriodDivisor = 8.5;
constexpr int32_t WprPeriod2Divisor = 9;
constexpr int32_t WprPeriodLow = 10, WprPeriodHigh = 20;
constexpr int32_t ProfileAtrPeriod = 14;
constexpr double DspFactor = 2.0;
// 10^k overflows to infinity well before this; beyond it nothing changes.
constexpr int64_t MaxPowerOfTen = 400;

bool Contains(const char* text, const char* code)
{
    return text != nullptr && std::strstr(text, code) != nullptr;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

void SetPipConvention(EngineState& s, const char* currencyText)
{
    s.pipSize = static_cast<double>(10 / s.pipFactor) * s.hostPoint;
    if (s.pipFactor == 10) s.pipDigits = s.hostDigits;
    else if (s.pipFactor == 1) s.pipDigits = WrapSub(s.hostDigits, 1);
    s.pipTolerance = s.pipSize * 0.9;

    if (Contains(currencyText, AccountCurrencyCode)) return;

    // Accounts in another currency: the pip follows the quote's digits alone.
    const int32_t d = s.hostDigits;
    const int32_t multiplier = (d == 3 || d == 5) ? 10 : 1;
    s.pipSize = static_cast<double>(multiplier) * s.hostPoint;
    if (d == 2 || d == 4) s.pipDigits = d;
    else if (d == 3 || d == 5) s.pipDigits = d - 1;
    s.pipTolerance = s.pipSize * 0.9;
}

void DeriveFromStatistics(EngineState& s, int32_t barRangeUnits, int32_t rangePips, int32_t volumeAverage)
{
    const int32_t f = FoldVolumeAverage(s, volumeAverage);
    const double fd = static_cast<double>(f);

    s.stopLossPips = std::max(WrapMul(barRangeUnits, rangePips / StopLossRangeDivisor), MinStopLossPips);
    s.takeProfitPips = std::max(WrapMul(barRangeUnits, rangePips / TakeProfitRangeDivisor), MinTakeProfitPips);
    s.hhh1 = std::min(f / Hhh1Divisor, MaxHhh1);
    s.hhh2 = std::min(RoundHalfUpToInt(fd / Hhh2Divisor), MaxHhh2);
    s.hhh2 = std::max(s.hhh2, WrapAdd(s.spreadPoints, SpreadFloorMargin));
    s.closeLossPips = WrapNeg(RoundHalfUpToInt(fd / CloseLossDivisor));
    s.minAtrPips = Clamp(f / MinAtrDivisor, MinAtrLow, MinAtrHigh);
    s.cciLevel = volumeAverage / CciLevelDivisor;
    s.smmaGapPips1 = std::min(RoundHalfUpToInt(fd / SmmaGap1Divisor), MaxSmmaGap1);
    s.smmaGapPips2 = Clamp(RoundHalfUpToInt(fd / SmmaGap2Divisor), SmmaGap2Low, SmmaGap2High);
    s.wprLevel1 = std::max(WrapNeg(RoundHalfUpToInt(fd / WprLevel1Divisor)), WprScaleBottom);
    s.wprLevel2 = std::max(WrapNeg(RoundHalfUpToInt(fd / WprLevel2Divisor)), WprScaleBottom);
    s.closeProfitPips = DerivedCloseProfitPips;
    s.wprLevel3 = 0;
    s.smmaPeriod = Clamp(RoundHalfUpToInt(fd / SmmaPeriodDivisor), SmmaPeriodLow, SmmaPeriodHigh);
    s.cciPeriod = Clamp(RoundHalfUpToInt(fd / CciPeriodDivisor), PeriodLow, PeriodHigh);
    s.atrPeriod = Clamp(RoundHalfUpToInt(fd / AtrPeriodDivisor), PeriodLow, PeriodHigh);
    s.wprPeriod = Clamp(RoundHalfUpToInt(fd / WprPeriodDivisor), WprPeriodLow, WprPeriodHigh);
    s.wprPeriod2 = Clamp(f / WprPeriod2Divisor, WprPeriodLow, WprPeriodHigh);
    s.profileMatched = 0;
}

void ApplyProfile(EngineState& s, const InstrumentProfile& p)
{
    s.takeProfitPips = p.takeProfitPips;
    s.stopLossPips = p.stopLossPips;
    s.hhh1 = p.hhh1;
    s.hhh2 = p.hhh2;
    s.closeLossPips = p.closeLossPips;
    s.smmaPeriod = p.smmaPeriod;
    s.wprPeriod = p.wprPeriod;
    s.cciPeriod = p.cciPeriod;
    s.smmaGapPips1 = p.smmaGapPips1;
    s.smmaGapPips2 = p.smmaGapPips2;
    s.minAtrPips = p.minAtrPips;
    s.cciLevel = p.cciLevel;
    s.wprLevel1 = p.wprLevel1;
    s.wprLevel2 = p.wprLevel2;
    s.wprLevel3 = p.wprLevel3;
    s.closeProfitPips = p.closeProfitPips;
    s.atrPeriod = ProfileAtrPeriod;
    s.wprPeriod2 = 0;
    s.profileMatched = 1;
}

// 10 to the power |k|, inverted for a negative k.
double PointsPerPipDigitGap(int32_t k)
{
    const int64_t n = std::min<int64_t>(k < 0 ? -static_cast<int64_t>(k) : k, MaxPowerOfTen);
    double p = 1.0;
    for (int64_t i = 0; i < n; ++i) p *= 10.0;
    return k < 0 ? 1.0 / p : p;
}

}  // namespace

int32_t FoldVolumeAverage(const EngineState& s, int32_t volumeAverage)
{
    if (volumeAverage > FoldHigh) {
        const double y = static_cast<double>(volumeAverage) * 0.01;
        const double r = RoundHalfUp(y);
        const double base = r > y ? RoundToDigits(y, 0) - s.twoConstant : RoundToDigits(y, 0) - 1.0;
        return RoundHalfUpToInt(static_cast<double>(volumeAverage) - base * 100.0);
    }
    if (volumeAverage >= FoldLow) return volumeAverage;
    return WrapAdd(volumeAverage, FoldLow);
}

void CalibrateInstrument(EngineState& s, const char* symbolText, const char* currencyText)
{
    if (s.pipFactor != 1 && s.pipFactor != 10) return;

    SetPipConvention(s, currencyText);

    const int32_t barRangeUnits = MeasureAverageBarRange(s);
    const int32_t rangePips = MeasureRangePips(s);
    const int32_t volumeAverage = MeasureAverageVolume(s);
    DeriveFromStatistics(s, barRangeUnits, rangePips, volumeAverage);

    for (const InstrumentProfile& p : InstrumentProfiles) {
        if (Contains(symbolText, p.code)) ApplyProfile(s, p);
    }

    // Profiles obey the spread floor too.
    s.hhh2 = std::max(s.hhh2, WrapAdd(s.spreadPoints, SpreadFloorMargin));

    const double p = PointsPerPipDigitGap(WrapSub(s.hostDigits, s.pipDigits));
    s.dspPoints = TruncateToInt32(DspFactor * p);
    s.dcloseSpPoints = TruncateToInt32(s.threeConstant * p);

    s.wprBuyLevel1 = s.wprLevel1;
    s.wprBuyLevel2 = s.wprLevel2;
    s.wprBuyLevel3 = s.wprLevel3;
    s.wprSellLevel1 = WrapSub(WprScaleBottom, s.wprLevel1);
    s.wprSellLevel2 = WrapSub(WprScaleBottom, s.wprLevel2);
    s.wprSellLevel3 = WrapSub(WprScaleBottom, s.wprLevel3);

    if (s.wprPeriod2 <= 0) s.wprPeriod2 = s.wprPeriod;
}

int32_t IniAll(EngineState& s, const char* symbolText, const char* currencyText)
{
    CalibrateInstrument(s, symbolText, currencyText);
    return 0;
}

}  // namespace torvik
