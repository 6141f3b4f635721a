// Hand-made bar sequences for the replay tests: a flat history long enough
// for the smallest window, then the bars a test is about.
#pragma once

#include <vector>

#include "scripted_library.h"
#include "tester/data/bar_time.h"
#include "tester/run/replay.h"

namespace torvik::tester::testing {

inline const uint32_t StartTime = *ToBarTime(CivilTime{2024, 1, 1, 0, 0, 0});

inline uint32_t HourTime(size_t i) { return StartTime + static_cast<uint32_t>(i) * 3600u; }

// EURUSD-like: 5 digits, a 10-point spread, 1:100, direct profits in USD.
inline TestSettings EurusdSettings()
{
    TestSettings s;
    s.symbol = "EURUSD";
    s.digits = 5;
    s.point = 0.00001;
    s.spreadPoints = 10;
    s.window = MinWindow;
    s.pipMode = 4;
    return s;
}

class Scenario {
public:
    explicit Scenario(double flatPrice)
    {
        for (int32_t i = 0; i + 1 < MinWindow; ++i) Add(flatPrice, flatPrice, flatPrice, flatPrice);
    }
    // Appends a bar; the first one appended is the first bar with ticks.
    Scenario& Add(double open, double high, double low, double close)
    {
        bars_.push_back(BarRecord{HourTime(bars_.size()), open, low, high, close, 100.0});
        return *this;
    }
    // The time of the n-th bar appended after the history.
    static uint32_t TimeOf(size_t n) { return HourTime(static_cast<size_t>(MinWindow) - 1 + n); }
    const std::vector<BarRecord>& Bars() const { return bars_; }

private:
    std::vector<BarRecord> bars_;
};

inline ReplayResult RunScripted(Script& script, const Scenario& scenario, const TestSettings& settings)
{
    activeScript = &script;
    ReplayHooks hooks;
    hooks.library = &ScriptedLibrary();
    ReplayResult result = Replay(scenario.Bars(), settings, hooks);
    activeScript = nullptr;
    return result;
}

}  // namespace torvik::tester::testing
