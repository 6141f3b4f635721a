// One test run: a chart's data, the settings, and the library binding in;
// trades, equity rows and figures out as they happen, the outcome at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tester/data/source.h"
#include "tester/expert/advisor.h"
#include "tester/expert/library.h"
#include "tester/market/account.h"
#include "tester/market/path.h"
#include "tester/market/settings.h"
#include "tester/report/figures.h"
#include "tester/report/symbol_figures.h"

namespace torvik::tester {

// Where a chart's data comes from: a file read as the run goes, or data
// loaded once and shared.
struct ChartSource {
    std::string file;                    // the file (also the name in messages and reports)
    const LoadedData* loaded = nullptr;  // when set, the rows come from here
    FileInfo info;                       // what a scan of the whole file found
    // The chart's instrument and model; unset: the run's settings.
    std::optional<TestSettings> settings = std::nullopt;
};

// A resolved run: every default applied. Several charts share one account
// and one library: the account's money, the cadence, the equity rows, the
// slippage and the rollover hour come from `settings` (which is also the
// first chart's), each chart's instrument, costs, model and the expert's
// inputs from its own settings.
struct ResolvedRun {
    TestSettings settings;
    std::vector<ChartSource> charts;
    const TestSettings& ChartSettings(size_t chart) const
    {
        return charts[chart].settings ? *charts[chart].settings : settings;
    }
    // Every chart's settings, in order.
    std::vector<TestSettings> AllChartSettings() const
    {
        std::vector<TestSettings> all;
        for (size_t c = 0; c < charts.size(); ++c) all.push_back(ChartSettings(c));
        return all;
    }
    // Whether a chart's data is ticks: the reports' times then carry milliseconds.
    bool TickTimes() const
    {
        for (const ChartSource& c : charts) {
            if (c.info.IsTicks()) return true;
        }
        return false;
    }
};

// One row of equity.csv: a chart bar (or a tick) as it ended.
struct EquityRow {
    int64_t timeMs;
    double balance;
    double equity;
    double low;   // the lowest and highest equity within the bar (or since the row before)
    double high;
    double margin;
    int32_t positions;
};

// How much of the test had a real intrabar path.
struct ModellingQuality {
    uint64_t chartBars = 0;    // chart bars in the test
    uint64_t realPath = 0;     // with a path from lower bars (two or more) or real ticks
    uint64_t withHoles = 0;    // of those, built from fewer lower bars than the chart period holds
    uint64_t fellBack = 0;     // one lower bar only: the generated four-tick path
    std::string source;        // "ticks", "M5", ...; empty for the generated models
};

// Receives what the run produces, in order, as it happens.
class RunSink {
public:
    virtual ~RunSink() = default;
    virtual void OnTrade(const Trade& trade) = 0;
    virtual void OnEquityRow(const EquityRow& row) = 0;
    // A chart bar of the test, complete (before its equity row); its
    // `chart` field tells which chart of the run it belongs to.
    virtual void OnChartBar(const ChartBar&) {}
};

using ProgressFn = void (*)(void* context, double done);  // done: 0 to 1

struct RunHooks {
    LibraryBinding* library = nullptr;  // null: the exports, as the terminal calls them
    RunSink* sink = nullptr;
    DecisionObserver* observer = nullptr;
    ProgressFn progress = nullptr;
    void* progressContext = nullptr;
};

// One chart of the run.
struct ChartOutcome {
    std::string symbol;
    ModellingQuality quality;
    uint64_t ticks = 0;
    uint64_t chartBarsSeen = 0;
    uint32_t firstBarTime = 0;
    uint32_t lastBarTime = 0;
    SymbolFigures figures;
};

struct RunOutcome {
    AdvisorTally tally;
    Calibration firstCalibration;
    Calibration lastCalibration;
    Figures figures;
    ModellingQuality quality;
    uint64_t ticks = 0;        // modelled ticks in the test
    uint64_t chartBarsSeen = 0;  // chart bars read, history included
    uint32_t firstBarTime = 0;   // the chart bars of the test
    uint32_t lastBarTime = 0;
    uint64_t trades = 0;
    uint64_t equityRows = 0;
    bool emptied = false;  // a stop-out left no money and ended the test
    int64_t endedAtMs = 0;  // the last modelled tick
    std::vector<ChartOutcome> charts;  // per chart, in the order given; the fields above are their sums
};

// Checks the settings; throws TesterError on the first problem.
void ValidateSettings(const TestSettings& settings);

RunOutcome RunBacktest(const ResolvedRun& resolved, const RunHooks& hooks = {});

}  // namespace torvik::tester
