// The tester's throughput: whole replays of bundled real data, in chart bars
// per second (the open model, with the library's decisions and with their
// straightforward form) and in modelled ticks per second (the expert
// deciding once per chart bar, the broker on every tick). The data is loaded
// once; parsing is not in the figures (the whole command is timed in the
// README).

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/csv_bars.h"
#include "tester/run/options.h"

namespace {

using namespace torvik::tester;

const LoadedData& Data(const std::string& name)
{
    static std::map<std::string, LoadedData> loaded;
    auto it = loaded.find(name);
    if (it == loaded.end()) it = loaded.emplace(name, LoadFile(torvik::testing::BundledDataPath(name.c_str()))).first;
    return it->second;
}

ResolvedRun ResolvedFile(const std::string& file, const std::vector<std::pair<std::string, std::string>>& options)
{
    RunInputs in = DefaultInputs();
    ApplyOption(in, "bars", file);
    for (const auto& [name, text] : options) ApplyOption(in, name, text);
    return ResolveRun(in, Data(file).info, &Data(file));
}

void Replay(benchmark::State& state, const ResolvedRun& resolved, LibraryBinding* library)
{
    RunHooks hooks;
    hooks.library = library;
    uint64_t bars = 0, ticks = 0;
    for (auto _ : state) {
        const RunOutcome r = RunBacktest(resolved, hooks);
        bars += r.quality.chartBars;
        ticks += r.ticks;
        benchmark::DoNotOptimize(r.trades);
    }
    state.counters["bars_per_second"] = benchmark::Counter(static_cast<double>(bars), benchmark::Counter::kIsRate);
    state.counters["ticks_per_second"] = benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kIsRate);
}

// The expert advisor's defaults on EURUSD: a 300-bar window, open prices only.
// "EUR.USD" contains no profile's code: the Ichimoku score decides.
void BM_Tester(benchmark::State& state, const char* symbol, bool reference)
{
    const ResolvedRun resolved = ResolvedFile("EURUSD_H1.csv", {{"symbol", symbol}, {"base", "EUR"}, {"quote", "USD"}});
    TableBinding library(reference ? ReferenceExports() : Exports());
    Replay(state, resolved, &library);
}

BENCHMARK_CAPTURE(BM_Tester, open/300/profile/reference, "EURUSD", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tester, open/300/profile/fast, "EURUSD", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tester, open/300/no_profile/reference, "EUR.USD", true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Tester, open/300/no_profile/fast, "EUR.USD", false)->Unit(benchmark::kMillisecond);

// Two charts in one account (EURUSD and USDJPY H1, open prices, 300-bar
// window): chart bars of both per second, to set against one chart's.
void BM_Portfolio(benchmark::State& state)
{
    RunInputs in = DefaultInputs();
    std::vector<ChartSource> sources;
    for (const char* file : {"EURUSD_H1.csv", "USDJPY_H1.csv"}) {
        ApplyOption(in, "bars", file);
        sources.push_back(ChartSource{file, &Data(file), Data(file).info});
    }
    const ResolvedRun resolved = ResolveRun(in, sources);
    Replay(state, resolved, nullptr);
}

BENCHMARK(BM_Portfolio)->Unit(benchmark::kMillisecond);

// Modelled ticks per second with the expert deciding once per chart bar.
void BM_Ticks(benchmark::State& state, const char* file, const char* timeframe, const char* model)
{
    const ResolvedRun resolved = ResolvedFile(file, {{"timeframe", timeframe}, {"model", model}, {"window", "98"}});
    Replay(state, resolved, nullptr);
}

BENCHMARK_CAPTURE(BM_Ticks, ohlc/EURUSD_H1, "EURUSD_H1.csv", "H1", "ohlc")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ticks, lower/EURUSD_M15_as_H1, "EURUSD_M15.csv", "H1", "lower")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ticks, lower/EURUSD_M1_as_H1, "EURUSD_M1.csv", "H1", "lower")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ticks, ticks/EURUSD_ticks_as_M15, "EURUSD_ticks.csv", "M15", "ticks")
    ->Unit(benchmark::kMillisecond);

// The whole run's parsing: a pass over a file (what the scan before a run
// and the stream during it each cost).
void BM_Scan(benchmark::State& state, const char* file)
{
    uint64_t rows = 0;
    for (auto _ : state) rows += ScanFile(torvik::testing::BundledDataPath(file)).rows;
    state.counters["rows_per_second"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_Scan, EURUSD_M1, "EURUSD_M1.csv")->Unit(benchmark::kMillisecond);

}  // namespace
