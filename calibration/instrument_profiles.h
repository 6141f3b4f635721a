// The fixed calibrations of 27 currency pairs, recognised by their codes.
#pragma once

#include <cstdint>

namespace torvik {

struct InstrumentProfile {
    const char* code;
    int32_t takeProfitPips;
    int32_t stopLossPips;
    int32_t hhh1;
    int32_t hhh2;
    int32_t closeLossPips;
    int32_t smmaPeriod;
    int32_t wprPeriod;
    int32_t cciPeriod;
    int32_t smmaGapPips1;
    int32_t smmaGapPips2;
    int32_t minAtrPips;
    int32_t cciLevel;
    int32_t wprLevel1;
    int32_t wprLevel2;
    int32_t wprLevel3;
    int32_t closeProfitPips;
};

inline constexpr int InstrumentProfileCount = 27;

// Tested in this order; a later match overrides an earlier one.
extern const InstrumentProfile InstrumentProfiles[InstrumentProfileCount];

}  // namespace torvik
