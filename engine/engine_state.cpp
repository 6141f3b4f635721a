#include "engine/engine_state.h"

#include "engine/rounding.h"

namespace torvik {

constinit EngineState engineState{};

int32_t rews(EngineState& s)
{
    s.takeProfitPips = 0;
    s.stopLossPips = 0;
    s.hhh1 = 0;
    s.hhh2 = 0;
    s.closeLossPips = 0;
    s.smmaPeriod = 0;
    s.wprPeriod = 0;
    s.wprPeriod2 = 0;
    s.atrPeriod = 0;
    s.cciPeriod = 0;
    s.pipDigits = 0;
    s.pipSize = 0.0;
    s.pipTolerance = 0.0;
    s.smmaGapPips1 = 0;
    s.smmaGapPips2 = 0;
    s.minAtrPips = 0;
    s.cciLevel = 0;
    s.wprBuyLevel1 = 0;
    s.wprBuyLevel2 = 0;
    s.wprSellLevel1 = 0;
    s.wprSellLevel2 = 0;
    s.wprBuyLevel3 = 0;
    s.wprSellLevel3 = 0;
    s.wprLevel1 = 0;
    s.wprLevel2 = 0;
    s.closeProfitPips = 0;
    s.wprLevel3 = 0;
    s.hostPoint = 0.0;
    s.hostDigits = 0;
    s.lastBarIndex = 0;
    s.bidPrice = 0.0;
    s.askPrice = 0.0;
    s.positionOpenPrice = 0.0;
    s.hasPosition = 0;
    s.positionSide = 0;
    s.refPrevClose = 0.0;
    s.refPrevOpen = 0.0;
    s.dspPoints = 0;
    s.dcloseSpPoints = 0;
    return 0;
}

double PoTP(const EngineState& s)
{
    return RoundToDigits(static_cast<double>(s.takeProfitPips) * s.pipSize, s.pipDigits);
}

double PoSL(const EngineState& s)
{
    return RoundToDigits(static_cast<double>(s.stopLossPips) * s.pipSize, s.pipDigits);
}

double Dpp(const EngineState& s) { return s.pipSize; }
int32_t DSP(const EngineState& s) { return s.dspPoints; }
int32_t DCloseSP(const EngineState& s) { return s.dcloseSpPoints; }
int32_t HHH_1(const EngineState& s) { return s.hhh1; }
int32_t HHH_2(const EngineState& s) { return s.hhh2; }

}  // namespace torvik
