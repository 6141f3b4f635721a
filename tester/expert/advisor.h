// The expert advisor's update, as mql4/TorvikExpert.mq4 runs it: feed the
// library the window, act on the exit answer, feed it again if anything
// closed, then act on the entry answer if there is room for a position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "market/bar_record.h"
#include "tester/expert/bar_window.h"
#include "tester/expert/library.h"
#include "tester/market/account.h"
#include "tester/market/settings.h"

namespace torvik::tester {

// An order that was not placed, or a close the broker refused. code is the
// trade-server error code, or 0 when the expert sent nothing (LOT gave no
// usable lot, or a level was too close with --stops-too-close refuse).
struct Refusal {
    int64_t timeMs;
    Side side;
    double lots;
    int32_t code;
    std::string text;
    int32_t chart = 0;
    int32_t ticket = 0;  // the position whose close was refused; 0 for an order
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
    int32_t refusal;      // the error code of a refused order (-1: no lot, -2: a level too close), 0 otherwise
    int32_t chart = 0;    // the chart whose update this was
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
    // Per chart: orders LOT gave no lot for, the first reason why, and
    // orders not sent because a level was too close.
    std::vector<uint64_t> noLot;
    std::vector<std::string> noLotReason;
    std::vector<uint64_t> tooClose;
    std::vector<uint64_t> refusalsByChart;
};

// Why LOT's answer is no usable lot, named by the argument that made it so;
// empty when the arguments do not tell.
std::string NoLotReason(double answer, double fixedLot, double riskPercent, double minLot, double lotStep,
                        int32_t lotDivisor, int32_t riskSplit, const std::string& symbol);

class Advisor {
public:
    // The expert on chart `chart` of the account, with that chart's settings.
    Advisor(const TestSettings& s, LibraryBinding& lib, Account& account, AdvisorTally& tally, int32_t chart = 0);

    TickRecord Update(const BarWindow& window, Quote q, int64_t timeMs);
    Calibration ReadCalibration() const;

private:
    void Feed(const TickRecord& r);
    void Enter(Side side, TickRecord& r);
    void Refuse(TickRecord& r, Side side, int32_t code, std::string text, int32_t ticket = 0, double lots = 0.0);

    const TestSettings& s_;
    LibraryBinding& lib_;
    Account& account_;
    AdvisorTally& tally_;
    int32_t chart_;
};

}  // namespace torvik::tester
