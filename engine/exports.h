// The fourteen functions an expert advisor imports from the library.
#pragma once

#include <cstdint>

#include "engine/export.h"
#include "market/bar_record.h"

TORVIK_EXPORT(int32_t)
Rft(int32_t barCount, const torvik::BarRecord* refBars, int32_t refBarsTotal, const torvik::BarRecord* seriesBars,
    int32_t seriesBarsTotal, const torvik::BarRecord* extraBars, int32_t extraBarsTotal, double ask, double bid,
    int32_t digits, double point, double positionOpenPrice, int32_t positionType, int32_t pipMode);
TORVIK_EXPORT(int32_t) IniAll(const char* symbolText, const char* currencyText);
TORVIK_EXPORT(double)
LOT(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot, double lotStep,
    int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit, const char* symbol);
TORVIK_EXPORT(int32_t) OpenSignal();
TORVIK_EXPORT(int32_t) CloseSignal();
TORVIK_EXPORT(int32_t) rews();
TORVIK_EXPORT(const char*) ErrorDescription(int32_t code);
TORVIK_EXPORT(double) PoTP();
TORVIK_EXPORT(double) PoSL();
TORVIK_EXPORT(double) Dpp();
TORVIK_EXPORT(int32_t) DSP();
TORVIK_EXPORT(int32_t) DCloseSP();
TORVIK_EXPORT(int32_t) HHH_1();
TORVIK_EXPORT(int32_t) HHH_2();
