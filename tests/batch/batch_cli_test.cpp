// torvik-tester batch on the command line: its help, its refusals, and a
// plan file that makes the same batch as the same plan typed out.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_cli.h"
#include "test_paths.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

using testing::CliOutcome;

CliOutcome Batch(std::vector<std::string> args)
{
    args.insert(args.begin(), "batch");
    return testing::RunCli(args);
}

TEST(BatchCli, HelpListsTheRunsOptionsAndTheBatchs)
{
    const CliOutcome o = Batch({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* option :
         {"--bars", "--spread", "--window", "--from", "--plan", "--jobs", "--report", "--run-reports", "--force",
          "--criterion", "--search", "--passes", "--search-seed", "--in-sample", "--out-of-sample", "--quiet"}) {
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
    }
    // the single run's help points to it
    EXPECT_NE(testing::RunCli({"--help"}).out.find("torvik-tester batch --help"), std::string::npos);
}

TEST(BatchCli, ProblemsGiveOneMessageAndStatus2)
{
    const std::filesystem::path dir = ScratchFolder();
    const std::string eurusd = BundledFile("EURUSD_H1.csv");
    testing::WriteAll(dir / "plan.json", R"({"bars": ")" + eurusd + R"(", "spread": [8, 12], "report": "x"})");
    testing::WriteAll(dir / "twice.json", R"({"spread": [8, 12], "criterion": "sharpe"})");
    testing::WriteAll(dir / "broken.json", "{\"spread\": ");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--spread", "8"}, "--bars: is required"},
        {{"--bars", eurusd, "--window", "500:150:50"}, "--window: \"500:150:50\": the last value is below the first"},
        {{"--bars", eurusd, "--bogus", "1"}, "--bogus"},
        {{"--bars", eurusd, "--criterion", "luck"}, "--criterion: \"luck\" is none of balance"},
        {{"--bars", eurusd, "--search", "random"}, "--search: \"random\" is neither complete nor genetic"},
        {{"--bars", eurusd, "--search", "genetic", "--passes", "0"}, "--passes: \"0\" is not a whole number of 1"},
        {{"--bars", eurusd, "--in-sample", "12mo"}, "a walk-forward needs both --in-sample and --out-of-sample"},
        {{"--bars", eurusd, "--in-sample", "12mo", "--out-of-sample", "3 months"}, "--out-of-sample: \"3 months\""},
        {{"--bars", eurusd, "--in-sample", "12mo", "--out-of-sample", "3mo", "--from", "2023.01.01,2024.01.01"},
         "--from: takes one value in a walk-forward"},
        {{"--plan", (dir / "plan.json").string()}, "\"report\" is not an option of a plan"},
        {{"--bars", eurusd, "--plan", (dir / "twice.json").string(), "--spread", "20"}, "--spread: given both in"},
        {{"--bars", eurusd, "--plan", (dir / "twice.json").string(), "--criterion", "balance"},
         "--criterion: given both in"},
        {{"--plan", (dir / "broken.json").string()}, "not JSON"},
        {{"--plan", (dir / "none.json").string()}, "none.json: no such file"},
        {{"--bars", eurusd, "--jobs", "0"}, "--jobs"},
    };
    for (const Case& c : cases) {
        const CliOutcome o = Batch(c.args);
        EXPECT_EQ(o.status, 2) << c.args.back();
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");
    }
}

TEST(BatchCli, APlanFileMakesTheSameBatchAsItsCommandLine)
{
    const std::filesystem::path dir = ScratchFolder();
    const std::string eurusd = BundledFile("EURUSD_H1.csv");
    testing::WriteAll(dir / "plan.json", R"({"bars": [")" + eurusd + R"("], "spread": [8, 20], "window": "150:250:100",
                                            "from": "2024.11.01", "criterion": "drawdown"})");
    const CliOutcome file = Batch({"--plan", (dir / "plan.json").string(), "--report", (dir / "file").string(), "-q"});
    ASSERT_EQ(file.status, 0) << file.err;
    const CliOutcome line = Batch({"--bars", eurusd, "--spread", "8,20", "--window", "150:250:100", "--from",
                                   "2024.11.01", "--criterion", "drawdown", "--report", (dir / "line").string(), "-q"});
    ASSERT_EQ(line.status, 0) << line.err;
    for (const char* name : {"batch.json", "summary.csv", "summary.json", "summary.html"}) {
        EXPECT_EQ(ReadAll(dir / "file" / name), ReadAll(dir / "line" / name)) << name;
    }
    EXPECT_EQ(file.out.substr(0, file.out.find("Summary ")), line.out.substr(0, line.out.find("Summary ")));
    EXPECT_NE(file.out.find("Ranked by                                   drawdown"), std::string::npos) << file.out;
    // No folder: the console alone.
    const CliOutcome console = Batch({"--plan", (dir / "plan.json").string(), "-q"});
    ASSERT_EQ(console.status, 0) << console.err;
    EXPECT_EQ(console.out, file.out.substr(0, file.out.find("Summary ")));
}

}  // namespace
}  // namespace torvik::tester
