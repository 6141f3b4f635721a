// The export layer: each export hands the one engine record to its operation,
// in the floating-point state the engine needs (engine/fp_state_guard.h).
// Compiled once per deliverable; only the error catalogue differs.
#include "engine/exports.h"

#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "engine/fp_state_guard.h"
#include "market/bar_ingestion.h"
#include "messages/error_description.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"

#if !defined(TORVIK_LANGUAGE_ENGLISH) && !defined(TORVIK_LANGUAGE_RUSSIAN)
#error "a deliverable chooses its language: define TORVIK_LANGUAGE_ENGLISH or TORVIK_LANGUAGE_RUSSIAN"
#endif

using torvik::engineState;
using torvik::FpStateGuard;

TORVIK_EXPORT(int32_t)
Rft(int32_t barCount, const torvik::BarRecord* refBars, int32_t refBarsTotal, const torvik::BarRecord* seriesBars,
    int32_t seriesBarsTotal, const torvik::BarRecord* extraBars, int32_t extraBarsTotal, double ask, double bid,
    int32_t digits, double point, double positionOpenPrice, int32_t positionType, int32_t pipMode)
{
    const FpStateGuard guard;
    const torvik::BarIngestion in{barCount, refBars,   refBarsTotal, seriesBars,        seriesBarsTotal,
                                  extraBars, extraBarsTotal, ask, bid, digits, point, positionOpenPrice,
                                  positionType, pipMode};
    return torvik::Rft(engineState, in);
}

TORVIK_EXPORT(int32_t) IniAll(const char* symbolText, const char* currencyText)
{
    const FpStateGuard guard;
    return torvik::IniAll(engineState, symbolText, currencyText);
}

TORVIK_EXPORT(double)
LOT(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot, double lotStep,
    int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit, const char* symbol)
{
    const FpStateGuard guard;
    const torvik::LotRequest r{fixedLot, riskPercent,  riskMultiplier, minLot,    maxLot, lotStep,
                               lotDivisor, accountFunds, marginPerLot,   riskSplit, symbol};
    return torvik::LOT(r);
}

// The exports that hand the record to one operation and answer what it does.
#define TORVIK_RECORD_EXPORT(type, name)        \
    TORVIK_EXPORT(type) name()                  \
    {                                           \
        const FpStateGuard guard;               \
        return torvik::name(engineState);       \
    }

TORVIK_RECORD_EXPORT(int32_t, OpenSignal)
TORVIK_RECORD_EXPORT(int32_t, CloseSignal)
TORVIK_RECORD_EXPORT(int32_t, rews)

TORVIK_EXPORT(const char*) ErrorDescription(int32_t code)
{
    const FpStateGuard guard;
#if defined(TORVIK_LANGUAGE_RUSSIAN)
    return torvik::RussianErrorDescription(code);
#else
    return torvik::EnglishErrorDescription(code);
#endif
}

TORVIK_RECORD_EXPORT(double, PoTP)
TORVIK_RECORD_EXPORT(double, PoSL)
TORVIK_RECORD_EXPORT(double, Dpp)
TORVIK_RECORD_EXPORT(int32_t, DSP)
TORVIK_RECORD_EXPORT(int32_t, DCloseSP)
TORVIK_RECORD_EXPORT(int32_t, HHH_1)
TORVIK_RECORD_EXPORT(int32_t, HHH_2)
