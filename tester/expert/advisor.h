// The expert advisor's update, as mql4/TorvikExpert.mq4 runs it: feed the
// library the window, act on the exit answer, feed it again if anything
// closed, then act on the entry answer if there is room for a position.
#pragma once

#include <cstdint>
#include <vector>

#include "market/bar_record.h"
#include "tester/expert/bar_window.h"
#include "tester/expert/library.h"
#include "tester/market/account.h"
#include "tester/market/settings.h"

namespace torvik::tester {

// An order that was not placed. code is the trade-server error code, or 0
// when LOT gave no usable lot.
struct Refusal {
    int64_t timeMs;
    Side side;
    double lots;
    int32_t code;
    const char* text;
};

inline constexpr size_t MaxListedRefusals = 1000;

// What the library's getters answered at one tick.
struct Calibration {
    double takeProfit = 0.0;
    double stopLoss = 0.0;
    double pipSize = 0.0;
    int32_t dsp = 0;
    int32_t dcloseSp = 0;
    int32_t hhh1 = 0;
    int32_t hhh2 = 0;
};

// One update as the expert advisor ran it, for observers.
struct TickRecord {
    int64_t timeMs;
    Quote quote;
    const BarRecord* bars;  // the window handed to Rft, oldest first
    int32_t barCount;
    int32_t closeSignal;  // CloseSignal's answer
    int32_t openSignal;   // OpenSignal's answer (acted on only with room for a position)
    double lots;          // LOT's answer, 0 when not asked
    double takeProfit;    // the price levels of an order sent, 0 otherwise
    double stopLoss;
    int32_t refusal;      // the error code of a refused order (-1: no lot), 0 otherwise
};

class DecisionObserver {
public:
    virtual ~DecisionObserver() = default;
    virtual void OnUpdate(const TickRecord& update) = 0;
};

// What the expert's updates added up to.
struct AdvisorTally {
    std::vector<Refusal> refusals;  // the first MaxListedRefusals of them
    uint64_t refusalCount = 0;
    uint64_t updates = 0;
    uint64_t openAnswers[3] = {0, 0, 0};   // OpenSignal answered 0, 1, 2
    uint64_t closeAnswers[3] = {0, 0, 0};  // CloseSignal answered 0, 1, 2
};

class Advisor {
public:
    Advisor(const TestSettings& s, LibraryBinding& lib, Account& account, AdvisorTally& tally)
        : s_(s), lib_(lib), account_(account), tally_(tally)
    {
    }

    TickRecord Update(const BarWindow& window, Quote q, int64_t timeMs);
    Calibration ReadCalibration() const;

private:
    void Feed(const TickRecord& r);
    void Enter(Side side, TickRecord& r);
    void Refuse(TickRecord& r, Side side, int32_t code, const char* text);

    const TestSettings& s_;
    LibraryBinding& lib_;
    Account& account_;
    AdvisorTally& tally_;
};

}  // namespace torvik::tester
