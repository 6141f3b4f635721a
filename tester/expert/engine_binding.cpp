#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "market/bar_ingestion.h"
#include "messages/error_description.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "signals/reference/entry_signal.h"
#include "signals/reference/exit_signal.h"
#include "tester/expert/library.h"

namespace torvik::tester {

EngineBinding::EngineBinding(bool referenceDecisions)
    : state_(std::make_unique<EngineState>()), reference_(referenceDecisions)
{
}

EngineBinding::~EngineBinding() = default;

int32_t EngineBinding::Rft(int32_t barCount, const BarRecord* bars, double ask, double bid, int32_t digits,
                           double point, double positionOpenPrice, int32_t positionType, int32_t pipMode)
{
    const BarIngestion in{barCount, bars, barCount, bars, barCount, bars, barCount, ask, bid, digits, point,
                          positionOpenPrice, positionType, pipMode};
    return torvik::Rft(*state_, in);
}

int32_t EngineBinding::IniAll(const char* symbol, const char* currency)
{
    return torvik::IniAll(*state_, symbol, currency);
}

double EngineBinding::Lot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
                          double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot,
                          int32_t riskSplit, const char* symbol)
{
    const LotRequest r{fixedLot, riskPercent,  riskMultiplier, minLot,    maxLot, lotStep,
                       lotDivisor, accountFunds, marginPerLot,   riskSplit, symbol};
    return torvik::LOT(r);
}

int32_t EngineBinding::OpenSignal()
{
    return reference_ ? reference::OpenSignal(*state_) : torvik::OpenSignal(*state_);
}

int32_t EngineBinding::CloseSignal()
{
    return reference_ ? reference::CloseSignal(*state_) : torvik::CloseSignal(*state_);
}

int32_t EngineBinding::Reset() { return torvik::rews(*state_); }
const char* EngineBinding::ErrorDescription(int32_t code) { return EnglishErrorDescription(code); }
double EngineBinding::TakeProfit() { return torvik::PoTP(*state_); }
double EngineBinding::StopLoss() { return torvik::PoSL(*state_); }
double EngineBinding::PipSize() { return torvik::Dpp(*state_); }
int32_t EngineBinding::Dsp() { return torvik::DSP(*state_); }
int32_t EngineBinding::DcloseSp() { return torvik::DCloseSP(*state_); }
int32_t EngineBinding::Hhh1() { return torvik::HHH_1(*state_); }
int32_t EngineBinding::Hhh2() { return torvik::HHH_2(*state_); }

}  // namespace torvik::tester
