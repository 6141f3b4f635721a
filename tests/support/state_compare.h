// Field-by-field comparison of engine records (memcmp would also compare
// padding, which the language leaves unspecified).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/engine_state.h"

namespace torvik::testing {

#define TORVIK_STATE_SERIES(X) \
    X(typicalSeries) X(openSeries) X(medianSeries) X(closeSeries) X(weightedSeries) X(lowSeries) \
    X(volumeSeries) X(highSeries)

#define TORVIK_STATE_SCALARS(X) \
    X(twoConstant) X(threeConstant) X(takeProfitPips) X(stopLossPips) X(hhh1) X(hhh2) X(closeLossPips) \
    X(smmaPeriod) X(wprPeriod) X(wprPeriod2) X(atrPeriod) X(cciPeriod) X(pipDigits) X(pipSize) \
    X(pipTolerance) X(smmaGapPips1) X(smmaGapPips2) X(minAtrPips) X(cciLevel) X(wprBuyLevel1) \
    X(wprBuyLevel2) X(wprSellLevel1) X(wprSellLevel2) X(wprBuyLevel3) X(wprSellLevel3) X(wprLevel1) \
    X(wprLevel2) X(closeProfitPips) X(wprLevel3) X(hostPoint) X(hostDigits) X(lastBarIndex) X(bidPrice) \
    X(askPrice) X(positionOpenPrice) X(hasPosition) X(positionSide) X(refPrevClose) X(refPrevOpen) \
    X(buyEntryAllowed) X(sellEntryAllowed) X(dspPoints) X(dcloseSpPoints) X(profileMatched) \
    X(spreadPoints) X(pipFactor)

// Bit-for-bit: a not-a-number equals itself, -0.0 differs from 0.0.
template <typename T>
bool SameBits(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The names of the fields in which the records differ, empty when none.
inline std::string DifferingFields(const EngineState& a, const EngineState& b)
{
    std::string out;
#define TORVIK_COMPARE_FIELD(f) \
    if (!SameBits(a.f, b.f)) out += #f " ";
    TORVIK_STATE_SERIES(TORVIK_COMPARE_FIELD)
    TORVIK_STATE_SCALARS(TORVIK_COMPARE_FIELD)
#undef TORVIK_COMPARE_FIELD
    return out;
}

}  // namespace torvik::testing
