// The replay: the expert advisor's logic over bar history, calling the
// library's exports on every modelled tick, with the broker simulated around it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "market/bar_record.h"
#include "tester/market/account.h"
#include "tester/expert/library.h"
#include "tester/market/settings.h"

namespace torvik::tester {

// The account after a tick (or, for the last point, after the test closed
// everything). tick is the tick's place in its bar, 0 to 3.
struct EquityPoint {
    uint32_t time;
    uint8_t tick;
    int32_t positions;
    double bid;
    double balance;
    double equity;
    double margin;
};

// An order that was not placed. code is the trade-server error code, or 0
// when LOT gave no usable lot.
struct Refusal {
    uint32_t time;
    Side side;
    double lots;
    int32_t code;
    const char* text;
};

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

struct ReplayResult {
    std::vector<Trade> trades;
    std::vector<EquityPoint> equity;
    std::vector<Refusal> refusals;  // the first MaxListedRefusals of them
    uint64_t refusalCount = 0;
    size_t firstBar = 0;  // bars with ticks: firstBar to lastBar
    size_t lastBar = 0;
    uint64_t ticks = 0;
    Calibration firstCalibration;
    Calibration lastCalibration;
    uint64_t openAnswers[3] = {0, 0, 0};   // OpenSignal answered 0, 1, 2
    uint64_t closeAnswers[3] = {0, 0, 0};  // CloseSignal answered 0, 1, 2
};

inline constexpr size_t MaxListedRefusals = 1000;

// One tick as the expert advisor handled it, for observers.
struct TickRecord {
    uint32_t time;
    int32_t tick;
    Quote quote;
    const BarRecord* bars;  // the window handed to Rft, oldest first
    int32_t barCount;
    int32_t closeSignal;  // CloseSignal's answer
    int32_t openSignal;   // OpenSignal's answer (acted on only with room for a position)
    double lots;          // LOT's answer, 0 when not asked
    double takeProfit;    // the price levels of an order sent, 0 otherwise
    double stopLoss;
    int32_t refusal;      // the error code of a refused order, 0 otherwise
};

class ReplayObserver {
public:
    virtual ~ReplayObserver() = default;
    virtual void OnTick(const TickRecord& tick) = 0;
};

using ProgressFn = void (*)(void* context, size_t barsDone, size_t barsTotal);

struct ReplayHooks {
    const Library* library = nullptr;  // null: the exports
    ReplayObserver* observer = nullptr;
    ProgressFn progress = nullptr;
    void* progressContext = nullptr;
};

// Checks the settings against the bars; throws TesterError on the first
// problem, so that a run never starts that could not finish.
void ValidateReplay(std::span<const BarRecord> bars, const TestSettings& settings);

ReplayResult Replay(std::span<const BarRecord> bars, const TestSettings& settings, const ReplayHooks& hooks = {});

}  // namespace torvik::tester
