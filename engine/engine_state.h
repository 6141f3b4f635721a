// The one process-wide record that every export reads and writes.
#pragma once

#include <cstdint>

namespace torvik {

inline constexpr int SeriesCapacity = 500;

// Field order and types are part of the library's contract with its tests and
// tools; keep them as they stand. Everything is zero at load except the two
// constants, so the record is constant-initialised and loading runs no code.
struct EngineState {
    double twoConstant = 2.0;
    double threeConstant = 3.0;

    // Index 0 is the newest bar, index i the bar i places older.
    double typicalSeries[SeriesCapacity] = {};
    double openSeries[SeriesCapacity] = {};
    double medianSeries[SeriesCapacity] = {};
    double closeSeries[SeriesCapacity] = {};
    double weightedSeries[SeriesCapacity] = {};
    double lowSeries[SeriesCapacity] = {};
    double volumeSeries[SeriesCapacity] = {};
    double highSeries[SeriesCapacity] = {};

    int32_t takeProfitPips = 0;
    int32_t stopLossPips = 0;
    int32_t hhh1 = 0;
    int32_t hhh2 = 0;
    int32_t closeLossPips = 0;
    int32_t smmaPeriod = 0;
    int32_t wprPeriod = 0;
    int32_t wprPeriod2 = 0;
    int32_t atrPeriod = 0;
    int32_t cciPeriod = 0;
    int32_t pipDigits = 0;
    double pipSize = 0.0;
    double pipTolerance = 0.0;
    int32_t smmaGapPips1 = 0;
    int32_t smmaGapPips2 = 0;
    int32_t minAtrPips = 0;
    int32_t cciLevel = 0;
    int32_t wprBuyLevel1 = 0;
    int32_t wprBuyLevel2 = 0;
    int32_t wprSellLevel1 = 0;
    int32_t wprSellLevel2 = 0;
    int32_t wprBuyLevel3 = 0;
    int32_t wprSellLevel3 = 0;
    int32_t wprLevel1 = 0;
    int32_t wprLevel2 = 0;
    int32_t closeProfitPips = 0;
    int32_t wprLevel3 = 0;
    double hostPoint = 0.0;
    int32_t hostDigits = 0;
    int32_t lastBarIndex = 0;
    double bidPrice = 0.0;
    double askPrice = 0.0;
    double positionOpenPrice = 0.0;
    int32_t hasPosition = 0;
    int32_t positionSide = 0;
    double refPrevClose = 0.0;
    double refPrevOpen = 0.0;
    uint8_t buyEntryAllowed = 0;
    uint8_t sellEntryAllowed = 0;
    int32_t dspPoints = 0;
    int32_t dcloseSpPoints = 0;
    int32_t profileMatched = 0;
    int32_t spreadPoints = 0;
    int32_t pipFactor = 0;
};

// The library's only mutable storage. The exports pass it to the internal
// operations, which take the record as a parameter so that tests and tools can
// run them on records of their own.
extern constinit EngineState engineState;

// lastBarIndex as the decisions take it (L), or -1 for no bars. The consumers
// read bars 0 to L-1 and never bar L, so any L up to SeriesCapacity stays
// inside the series: a rejected Rft of 501 bars leaves L at 500, and the
// decisions then read the 500 bars kept from the earlier call, as they read
// the kept bars after any other rejected Rft. lastBarIndex is whatever the
// host's barCount made of it, though: a larger rejected barCount leaves it
// beyond the series, and a barCount of 0 or less leaves it negative, down to
// -2147483648, where counting back from it (L - 1, L - period) overflows. The
// kernels see no bars in both cases, which is what every negative L gives
// them anyway.
inline int32_t UsableLastBarIndex(const EngineState& s)
{
    return s.lastBarIndex >= 0 && s.lastBarIndex <= SeriesCapacity ? s.lastBarIndex : -1;
}

// rews: zero every calibrated field and market input, keeping the series, the
// constants, the entry flags, profileMatched, spreadPoints and pipFactor.
int32_t rews(EngineState& s);

// The getters.
double PoTP(const EngineState& s);
double PoSL(const EngineState& s);
double Dpp(const EngineState& s);
int32_t DSP(const EngineState& s);
int32_t DCloseSP(const EngineState& s);
int32_t HHH_1(const EngineState& s);
int32_t HHH_2(const EngineState& s);

}  // namespace torvik
