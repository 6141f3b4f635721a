// A stand-in for the library whose answers a test writes down in advance:
// which bar (and which tick of it) gets an entry or an exit answer, and what
// LOT, PoTP and PoSL say. It records what the replay hands to it, so tests can
// check the expert advisor's side of every call.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "tester/expert/library.h"
#include "tester/run/backtest.h"

namespace torvik::tester::testing {

struct RftCall {
    int32_t barCount;
    bool sameArrays;  // the three arrays are one
    std::vector<BarRecord> bars;
    double ask, bid;
    int32_t digits;
    double point;
    double positionOpenPrice;
    int32_t positionType;
    int32_t pipMode;
};

struct LotCall {
    double fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep;
    int32_t lotDivisor;
    double accountFunds, marginPerLot;
    int32_t riskSplit;
};

struct Script {
    // Keyed by the time of the newest bar and the tick within it (from 0;
    // the forming bar's volume counts its ticks).
    std::map<std::pair<uint32_t, int32_t>, int32_t> open;
    std::map<std::pair<uint32_t, int32_t>, int32_t> close;
    int32_t openEverywhere = 0;  // the entry answer on every other tick
    double lots = 0.1;
    double takeProfit = 0.0;
    double stopLoss = 0.0;

    // what the replay did
    std::vector<RftCall> rft;
    std::vector<LotCall> lot;
    int32_t openCalls = 0;
    int32_t closeCalls = 0;
    int32_t resets = 0;
};

inline Script* activeScript = nullptr;

inline std::pair<uint32_t, int32_t> CurrentTick()
{
    const RftCall& last = activeScript->rft.back();
    const BarRecord& newest = last.bars.back();
    return {newest.time, static_cast<int32_t>(newest.volume) - 1};
}

inline int32_t FakeRft(int32_t barCount, const BarRecord* refBars, int32_t, const BarRecord* seriesBars, int32_t,
                       const BarRecord* extraBars, int32_t, double ask, double bid, int32_t digits, double point,
                       double positionOpenPrice, int32_t positionType, int32_t pipMode)
{
    activeScript->rft.push_back(RftCall{barCount, refBars == seriesBars && extraBars == seriesBars,
                                        std::vector<BarRecord>(seriesBars, seriesBars + barCount), ask, bid, digits,
                                        point, positionOpenPrice, positionType, pipMode});
    return 0;
}
inline int32_t FakeIniAll(const char*, const char*) { return 0; }
inline double FakeLot(double fixedLot, double riskPercent, double riskMultiplier, double minLot, double maxLot,
                      double lotStep, int32_t lotDivisor, double accountFunds, double marginPerLot, int32_t riskSplit,
                      const char*)
{
    activeScript->lot.push_back(LotCall{fixedLot, riskPercent, riskMultiplier, minLot, maxLot, lotStep, lotDivisor,
                                        accountFunds, marginPerLot, riskSplit});
    return activeScript->lots;
}
inline int32_t FakeOpenSignal()
{
    ++activeScript->openCalls;
    const auto it = activeScript->open.find(CurrentTick());
    return it != activeScript->open.end() ? it->second : activeScript->openEverywhere;
}
inline int32_t FakeCloseSignal()
{
    ++activeScript->closeCalls;
    const auto it = activeScript->close.find(CurrentTick());
    return it != activeScript->close.end() ? it->second : 0;
}
inline int32_t FakeReset()
{
    ++activeScript->resets;
    return 0;
}
inline const char* FakeErrorDescription(int32_t) { return "refused"; }
inline double FakeTakeProfit() { return activeScript->takeProfit; }
inline double FakeStopLoss() { return activeScript->stopLoss; }
inline double FakePipSize() { return 0.0001; }
inline int32_t FakeZero() { return 0; }

inline const Library& ScriptedLibrary()
{
    static const Library library{&FakeRft,          &FakeIniAll,    &FakeLot,      &FakeOpenSignal,
                                 &FakeCloseSignal,  &FakeReset,     &FakeErrorDescription,
                                 &FakeTakeProfit,   &FakeStopLoss,  &FakePipSize,  &FakeZero,
                                 &FakeZero,         &FakeZero,      &FakeZero};
    return library;
}

}  // namespace torvik::tester::testing
