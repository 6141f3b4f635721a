// IniAll: the pip convention and every calibrated distance, period and level.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

// Folds a volume average into 100..200 (201 -> 101, 300 -> 100, 50 -> 150).
int32_t FoldVolumeAverage(const EngineState& s, int32_t volumeAverage);

// Recalibrates from what the last Rft stored. Before any Rft (pipFactor
// neither 1 nor 10) it changes nothing. Null texts count as empty texts.
void CalibrateInstrument(EngineState& s, const char* symbolText, const char* currencyText);

// Always 0.
int32_t IniAll(EngineState& s, const char* symbolText, const char* currencyText);

}  // namespace torvik
