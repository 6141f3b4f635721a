// The tester's throughput: whole replays of a bundled real file, in bars per
// second, with the library's decisions and with their straightforward form.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "support/csv_bars.h"
#include "tester/data/bar_file.h"
#include "tester/run/replay.h"

namespace {

using namespace torvik::tester;

const BarData& History()
{
    static const BarData data = ReadBarFile(torvik::testing::BundledDataPath("EURUSD_H1.csv"));
    return data;
}

// The expert advisor's defaults on EURUSD: a 300-bar window, open prices only.
TestSettings Settings(const char* symbol, Model model)
{
    TestSettings s;
    s.symbol = symbol;
    s.digits = History().digits;
    s.point = 0.00001;
    s.spreadPoints = DefaultSpreadPoints(s.digits);
    s.pipMode = DefaultPipMode(s.digits);
    s.model = model;
    s.conversion = Conversion::Direct;
    return s;
}

void BM_Tester(benchmark::State& state, const char* symbol, Model model, bool reference)
{
    const TestSettings settings = Settings(symbol, model);
    ReplayHooks hooks;
    hooks.library = reference ? &ReferenceExports() : &Exports();
    size_t bars = 0;
    for (auto _ : state) {
        const ReplayResult r = Replay(History().bars, settings, hooks);
        bars += r.lastBar - r.firstBar + 1;
        benchmark::DoNotOptimize(r.trades.size());
    }
    state.counters["bars_per_second"] = benchmark::Counter(static_cast<double>(bars), benchmark::Counter::kIsRate);
}

// "EUR.USD" contains no profile's code: the Ichimoku score decides.
BENCHMARK_CAPTURE(BM_Tester, open/300/profile/reference, "EURUSD", Model::Open, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tester, open/300/profile/fast, "EURUSD", Model::Open, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tester, open/300/no_profile/reference, "EUR.USD", Model::Open, true)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Tester, open/300/no_profile/fast, "EUR.USD", Model::Open, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tester, ohlc/300/profile/fast, "EURUSD", Model::Ohlc, false)->Unit(benchmark::kMillisecond);

}  // namespace
