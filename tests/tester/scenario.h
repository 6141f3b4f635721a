// Hand-made bar and tick sequences for the run tests: a flat history long
// enough for the smallest window, then the bars a test is about; and a run
// over them through a scripted library, with everything it produced.
#pragma once

#include <vector>

#include "scripted_library.h"
#include "tester/data/bar_time.h"
#include "tester/run/backtest.h"

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
    s.spreadFixed = true;
    s.window = MinWindow;
    s.pipMode = 4;
    return s;
}

// What a run produced, collected.
struct Collected : RunSink {
    std::vector<Trade> trades;
    std::vector<EquityRow> equity;
    std::vector<ChartBar> bars;
    RunOutcome outcome;
    void OnTrade(const Trade& t) override { trades.push_back(t); }
    void OnEquityRow(const EquityRow& r) override { equity.push_back(r); }
    void OnChartBar(const ChartBar& b) override { bars.push_back(b); }
};

// Chart bars of one hour each; with lower rows, each hour is made of the
// rows given for it.
class Scenario {
public:
    explicit Scenario(double flatPrice)
    {
        for (int32_t i = 0; i + 1 < MinWindow; ++i) Add(flatPrice, flatPrice, flatPrice, flatPrice);
    }
    // Appends an hourly bar; the first one appended is the first bar with ticks.
    Scenario& Add(double open, double high, double low, double close)
    {
        if (ticks_) return AddTicks({{0.0, open, open + 0.0001}});
        if (quarters_) return AddQuarters({{open, high, low, close}, {close, close, close, close}});
        const uint32_t t = HourTime(hours_++);
        data_.rows.push_back(Row{int64_t{t} * 1000, open, high, low, close, 100.0, 0.0, -1});
        return *this;
    }
    // Appends an hour made of 15-minute bars (open, high, low, close each);
    // the history before is then made of 15-minute bars too.
    Scenario& AddQuarters(const std::vector<std::vector<double>>& quarters)
    {
        ToQuarters();
        const uint32_t t = HourTime(hours_++);
        for (size_t q = 0; q < quarters.size(); ++q) {
            const std::vector<double>& b = quarters[q];
            data_.rows.push_back(Row{int64_t{t + 900u * static_cast<uint32_t>(q)} * 1000, b[0], b[1], b[2], b[3], 25.0,
                                     0.0, -1});
        }
        return *this;
    }
    // Appends ticks (time offset in ms from the hour's start, bid, ask) as
    // one hour; the whole history becomes ticks.
    Scenario& AddTicks(const std::vector<std::vector<double>>& ticks)
    {
        ToTicks();
        const uint32_t t = HourTime(hours_++);
        for (const std::vector<double>& k : ticks) {
            data_.rows.push_back(Row{int64_t{t} * 1000 + static_cast<int64_t>(k[0]), k[1], k[1], k[1], k[1], 1.0, k[2], -1});
        }
        return *this;
    }
    // The time of the n-th hour appended after the history.
    static uint32_t TimeOf(size_t n) { return HourTime(static_cast<size_t>(MinWindow) - 1 + n); }
    static int64_t MsOf(size_t n) { return int64_t{TimeOf(n)} * 1000; }

    // The data, and the settings that go with its kind (model, timeframe).
    const LoadedData& Data()
    {
        data_.info.name = "scenario";
        data_.info.rows = data_.rows.size();
        data_.info.digits = 5;
        data_.info.format = ticks_ ? FileFormat::TickExport : FileFormat::HistoryCenter;
        data_.info.timeframeSeconds = ticks_ ? 0 : quarters_ ? 900 : 3600;
        return data_;
    }
    bool Lower() const { return quarters_ || ticks_; }
    bool Ticks() const { return ticks_; }

private:
    // Every hour so far becomes four quarters with the hour's prices.
    void ToQuarters()
    {
        if (quarters_ || ticks_) return;
        quarters_ = true;
        std::vector<Row> rows;
        for (const Row& r : data_.rows) {
            for (int64_t q = 0; q < 4; ++q) {
                Row x = r;
                x.timeMs = r.timeMs + q * 900 * 1000;
                x.volume = 25.0;
                rows.push_back(x);
            }
        }
        data_.rows = rows;
    }
    void ToTicks()
    {
        if (ticks_) return;
        ticks_ = true;
        std::vector<Row> rows;
        for (const Row& r : data_.rows) rows.push_back(Row{r.timeMs, r.open, r.open, r.open, r.open, 1.0, r.open + 0.0001, -1});
        data_.rows = rows;
    }

    LoadedData data_;
    size_t hours_ = 0;
    bool quarters_ = false;
    bool ticks_ = false;
};

// A resolved run through the exports, collected.
inline Collected RunCollected(const ResolvedRun& resolved, DecisionObserver* observer = nullptr)
{
    Collected c;
    RunHooks hooks;
    hooks.sink = &c;
    hooks.observer = observer;
    c.outcome = RunBacktest(resolved, hooks);
    return c;
}

// Runs the scenario through the scripted library. With lower rows the
// chart is H1.
inline Collected RunScripted(Script& script, Scenario& scenario, TestSettings settings)
{
    activeScript = &script;
    TableBinding binding(ScriptedLibrary());
    Collected c;
    ResolvedRun resolved;
    const LoadedData& data = scenario.Data();
    if (scenario.Lower()) settings.timeframeSeconds = 3600;
    resolved.settings = settings;
    resolved.charts.push_back(ChartSource{"scenario", &data, data.info});
    RunHooks hooks;
    hooks.library = &binding;
    hooks.sink = &c;
    c.outcome = RunBacktest(resolved, hooks);
    activeScript = nullptr;
    return c;
}

}  // namespace torvik::tester::testing
