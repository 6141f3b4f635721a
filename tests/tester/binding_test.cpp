// The run's bindings of the library trade alike: an engine record of the
// run's own (what batch workers use in threads) writes byte-identical
// reports to the exports the terminal calls, in every model.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/report/report.h"
#include "tester/run/options.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

// One run through the run API into a report folder.
void RunInto(const std::filesystem::path& dir, const std::vector<std::pair<std::string, std::string>>& options,
             LibraryBinding* library)
{
    RunInputs in = DefaultInputs();
    for (const auto& [name, text] : options) ApplyOption(in, name, text);
    const FileInfo info = ScanFile(in.bars);
    const ResolvedRun resolved = ResolveRun(in, info);
    ReportFolder folder(dir.string(), resolved.settings, info.IsTicks());
    RunHooks hooks;
    hooks.library = library;
    hooks.sink = &folder;
    folder.Finish(TestRun{in.bars, info, resolved.settings, RunBacktest(resolved, hooks)});
}

TEST(Binding, OwnEngineRecordWritesTheReportsOfTheExports)
{
    const std::vector<std::vector<std::pair<std::string, std::string>>> cases = {
        {{"bars", BundledFile("EURUSD_H1.csv")}},
        {{"bars", BundledFile("USDJPY_M15.csv")}, {"timeframe", "H1"}, {"from", "2024.06.01"}},
        {{"bars", BundledFile("EURUSD_M15.csv")}, {"timeframe", "H1"}, {"model", "ohlc"}, {"decide", "tick"},
         {"to", "2023.09.30"}},
        // The shipped expert opens nothing in the tick week: the equity rows
        // and the signal counts are compared there.
        {{"bars", BundledFile("EURUSD_ticks.csv")}, {"timeframe", "M15"}, {"window", "98"}},
    };
    const std::filesystem::path dir = ScratchFolder();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i][0].second);
        EngineBinding own;
        RunInto(dir / "exports", cases[i], nullptr);
        RunInto(dir / "own", cases[i], &own);
        for (const char* file : {"trades.csv", "equity.csv", "report.json", "report.html"}) {
            const std::string a = ReadAll(dir / "exports" / file);
            EXPECT_FALSE(a.empty()) << file;
            EXPECT_TRUE(a == ReadAll(dir / "own" / file)) << file << " differs";
        }
        const std::string trades = ReadAll(dir / "exports" / "trades.csv");
        if (i + 1 < cases.size()) EXPECT_GT(std::count(trades.begin(), trades.end(), '\n'), 2) << "too few trades";
    }
}

}  // namespace
}  // namespace torvik::tester
