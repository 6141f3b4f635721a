// Rft: copies the host's bars and market inputs into the engine state.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "market/bar_record.h"

namespace torvik {

// Arguments of one bar ingestion, in the export's order.
struct BarIngestion {
    int32_t barCount;
    const BarRecord* refBars;
    int32_t refBarsTotal;
    const BarRecord* seriesBars;
    int32_t seriesBarsTotal;
    const BarRecord* extraBars;
    int32_t extraBarsTotal;
    double ask;
    double bid;
    int32_t digits;
    double point;
    double positionOpenPrice;
    int32_t positionType;
    int32_t pipMode;
};

// Always 0. The position and the scalar inputs are stored unconditionally;
// the reference bar and the series only when the arrays pass the checks.
int32_t Rft(EngineState& s, const BarIngestion& in);

}  // namespace torvik
