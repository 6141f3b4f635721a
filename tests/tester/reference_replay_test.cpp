// The library's fast decisions trade exactly like their straightforward
// form: whole replays of the bundled history give byte-identical reports.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/cli/cli.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

void RunToCompletion(std::vector<std::string> args)
{
    args.insert(args.begin(), "torvik-tester");
    args.push_back("--quiet");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    ASSERT_EQ(RunTester(static_cast<int>(argv.size()), argv.data(), out, err, false), 0) << err.str();
}

size_t Lines(const std::string& text)
{
    size_t n = 0;
    for (const char c : text) n += c == '\n';
    return n;
}

TEST(ReferenceReplay, BothFormsWriteTheSameReport)
{
    const struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"EURUSD profile, ohlc", {"--bars", BundledFile("EURUSD_H1.csv"), "--model", "ohlc"}},
        {"USDJPY profile, open", {"--bars", BundledFile("USDJPY_H1.csv")}},
        // No profile: the Ichimoku score decides; the straightforward form is
        // slow there, so a few months of history.
        {"EURUSD without a profile",
         {"--bars", BundledFile("EURUSD_H1.csv"), "--symbol", "EUR.USD", "--base", "EUR", "--quote", "USD", "--from",
          "2024.01.01"}},
        {"USDJPY without a profile, ohlc, short window",
         {"--bars", BundledFile("USDJPY_H1.csv"), "--symbol", "USD.JPY", "--base", "USD", "--quote", "JPY", "--from",
          "2024.09.01", "--model", "ohlc", "--window", "120"}},
    };
    const auto dir = ScratchFolder();
    for (const auto& c : cases) {
        std::vector<std::string> fast = c.args, reference = c.args;
        fast.insert(fast.end(), {"--report", (dir / "fast").string()});
        reference.insert(reference.end(), {"--signals", "reference", "--report", (dir / "reference").string()});
        RunToCompletion(fast);
        RunToCompletion(reference);
        for (const char* file : {"trades.csv", "equity.csv", "report.json", "report.html"}) {
            const std::string a = ReadAll(dir / "fast" / file);
            EXPECT_FALSE(a.empty()) << c.name << " " << file;
            EXPECT_TRUE(a == ReadAll(dir / "reference" / file)) << c.name << ": " << file << " differs";
        }
        EXPECT_GT(Lines(ReadAll(dir / "fast" / "trades.csv")), 5u) << c.name << ": too few trades to show anything";
    }
}

TEST(ReferenceReplay, UnknownFormIsRefused)
{
    std::vector<std::string> args = {"torvik-tester", "--bars", BundledFile("EURUSD_H1.csv"), "--signals", "slow"};
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    EXPECT_EQ(RunTester(static_cast<int>(argv.size()), argv.data(), out, err, false), 2);
    EXPECT_NE(err.str().find("--signals"), std::string::npos);
}

}  // namespace
}  // namespace torvik::tester
