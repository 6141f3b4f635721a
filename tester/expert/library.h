// The library as the expert advisor sees it, and the bindings a run calls
// it through:
//  - the exports, a table of the fourteen functions bound by name, exactly
//    as the terminal binds the DLL (one engine record per process);
//  - the same table with the straightforward form of the two decisions;
//  - an engine record of the run's own, on which the binding calls the
//    engine's operations directly, so that runs in several threads do not
//    share a record.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/exports.h"

namespace torvik {
struct EngineState;
}

namespace torvik::tester {

// The fourteen functions bound by name.
struct Library {
    decltype(&::Rft) rft;
    decltype(&::IniAll) iniAll;
    decltype(&::LOT) lot;
    decltype(&::OpenSignal) openSignal;
    decltype(&::CloseSignal) closeSignal;
    decltype(&::rews) reset;
    decltype(&::ErrorDescription) errorDescription;
    decltype(&::PoTP) takeProfit;
    decltype(&::PoSL) stopLoss;
    decltype(&::Dpp) pipSize;
    decltype(&::DSP) dsp;
    decltype(&::DCloseSP) dcloseSp;
    decltype(&::HHH_1) hhh1;
    decltype(&::HHH_2) hhh2;
};

// The exports of the English build, linked in exactly as the deliverable is
// built from them.
const Library& Exports();

// The same exports with OpenSignal and CloseSignal answered by the
// straightforward form of the two decisions, on the same engine record. The
// library's fast form must trade exactly alike; this table lets a replay show
// it. Slow: without a profile every entry decision rebuilds the lines 22 times.
const Library& ReferenceExports();

// What the expert advisor calls, whatever is behind it.
class LibraryBinding {
public:
    virtual ~LibraryBinding() = default;
    virtual int32_t Rft(int32_t barCount, const BarRecord* bars, double ask, double bid, int32_t digits,
                        double point, double positionOpenPrice, int32_t positionType, int32_t pipMode) = 0;
    virtual int32_t IniAll(const char* symbol, const char* currency) = 0;
    virtual double Lot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
                       double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
                       const char* symbol) = 0;
    virtual int32_t OpenSignal() = 0;
    virtual int32_t CloseSignal() = 0;
    virtual int32_t Reset() = 0;
    virtual const char* ErrorDescription(int32_t code) = 0;
    virtual double TakeProfit() = 0;
    virtual double StopLoss() = 0;
    virtual double PipSize() = 0;
    virtual int32_t Dsp() = 0;
    virtual int32_t DcloseSp() = 0;
    virtual int32_t Hhh1() = 0;
    virtual int32_t Hhh2() = 0;
};

// Calls a table of functions: the exports, or a stand-in for tests. The
// one bar array goes as all three of Rft's arrays, as the expert passes it.
class TableBinding : public LibraryBinding {
public:
    explicit TableBinding(const Library& table) : t_(table) {}
    int32_t Rft(int32_t barCount, const BarRecord* bars, double ask, double bid, int32_t digits, double point,
                double positionOpenPrice, int32_t positionType, int32_t pipMode) override
    {
        return t_.rft(barCount, bars, barCount, bars, barCount, bars, barCount, ask, bid, digits, point,
                      positionOpenPrice, positionType, pipMode);
    }
    int32_t IniAll(const char* symbol, const char* currency) override { return t_.iniAll(symbol, currency); }
    double Lot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
               double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
               const char* symbol) override
    {
        return t_.lot(fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep, lotDivisor, accountFunds,
                      marginPerLot, riskSplit, symbol);
    }
    int32_t OpenSignal() override { return t_.openSignal(); }
    int32_t CloseSignal() override { return t_.closeSignal(); }
    int32_t Reset() override { return t_.reset(); }
    const char* ErrorDescription(int32_t code) override { return t_.errorDescription(code); }
    double TakeProfit() override { return t_.takeProfit(); }
    double StopLoss() override { return t_.stopLoss(); }
    double PipSize() override { return t_.pipSize(); }
    int32_t Dsp() override { return t_.dsp(); }
    int32_t DcloseSp() override { return t_.dcloseSp(); }
    int32_t Hhh1() override { return t_.hhh1(); }
    int32_t Hhh2() override { return t_.hhh2(); }

private:
    const Library& t_;
};

// An engine record of this binding's own, driven through the engine's
// operations as the export layer drives its record; English error texts.
class EngineBinding : public LibraryBinding {
public:
    // referenceDecisions: OpenSignal and CloseSignal in their straightforward form.
    explicit EngineBinding(bool referenceDecisions = false);
    ~EngineBinding() override;
    int32_t Rft(int32_t barCount, const BarRecord* bars, double ask, double bid, int32_t digits, double point,
                double positionOpenPrice, int32_t positionType, int32_t pipMode) override;
    int32_t IniAll(const char* symbol, const char* currency) override;
    double Lot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
               double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
               const char* symbol) override;
    int32_t OpenSignal() override;
    int32_t CloseSignal() override;
    int32_t Reset() override;
    const char* ErrorDescription(int32_t code) override;
    double TakeProfit() override;
    double StopLoss() override;
    double PipSize() override;
    int32_t Dsp() override;
    int32_t DcloseSp() override;
    int32_t Hhh1() override;
    int32_t Hhh2() override;

private:
    std::unique_ptr<EngineState> state_;
    bool reference_;
};

}  // namespace torvik::tester
