// A batch's throughput: the same 16 runs (the whole bundled EURUSD H1 file,
// open prices, 300-bar window, spreads 4 to 64 points) made with 1 and with 2
// jobs, in runs per second of wall time. Each run has its engine record and
// writes nothing; the data is parsed once, outside the timing.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "support/csv_bars.h"
#include "tester/batch/pool.h"

namespace {

using namespace torvik::tester;

constexpr int BatchRuns = 16;

void BM_Batch(benchmark::State& state)
{
    const std::string file = torvik::testing::BundledDataPath("EURUSD_H1.csv");
    DataCache data;
    data.Get(file);
    std::vector<RunRequest> requests;
    for (int i = 0; i < BatchRuns; ++i) {
        const std::string spread = std::to_string(4 + 4 * i);
        requests.push_back(MakeRequest(static_cast<uint64_t>(i), {{"bars", file}, {"spread", spread}}));
    }
    PoolSettings settings;
    settings.jobs = static_cast<uint32_t>(state.range(0));
    uint64_t runs = 0;
    for (auto _ : state) {
        const auto records = RunPool(requests, data, settings, nullptr);
        for (const auto& r : records) {
            if (!r || !r->ok) state.SkipWithError("a run failed");
        }
        runs += records.size();
    }
    state.counters["runs_per_second"] = benchmark::Counter(static_cast<double>(runs), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Batch)->Arg(1)->Arg(2)->ArgName("jobs")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
