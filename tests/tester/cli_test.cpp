// The command line end to end, in process: its errors, and that equal runs
// write equal reports whichever of the two file formats holds the bars.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "run_cli.h"
#include "test_paths.h"
#include "tester/cli/cli.h"

namespace torvik::tester {
namespace {

namespace fs = std::filesystem;
using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

using Outcome = testing::CliOutcome;
const auto RunCli = testing::RunCli;

const char* const ReportFiles[] = {"report.json", "trades.csv", "equity.csv", "report.html"};

TEST(Cli, HelpListsTheOptions)
{
    const Outcome o = RunCli({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* option : {"--bars", "--model", "--window", "--spread", "--risk", "--report", "--stop-out"}) {
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
    }
}

TEST(Cli, ProblemsGiveOneMessageANonZeroStatusAndNoReport)
{
    const fs::path dir = ScratchFolder();
    const std::string eurusd = BundledFile("EURUSD_H1.csv");
    testing::WriteAll(dir / "bad.csv", "time,open,high,low,close,volume\n"
                                       "2024.01.01 00:00,1.1,1.2,1.0,1.15,10\n"
                                       "2024.01.01 01:00,1.1,1.2,1.0,x,10\n");
    testing::WriteAll(dir / "short.csv", "2024.01.01,00:00,1.1,1.2,1.0,1.15,10\n");
    const std::string report = (dir / "report").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"--bars", eurusd, "--bogus", "1"}, 2, "--bogus"},
        {{"--report", report}, 2, "--bars is required"},
        {{"--bars", eurusd, "--window", "501"}, 2, "--window: 501 is outside 98 to 500"},
        {{"--bars", eurusd, "--window", "20"}, 2, "--window: 20 is outside"},
        {{"--bars", eurusd, "--window", "many"}, 2, "--window"},
        {{"--bars", eurusd, "--model", "tick"}, 2, "--model"},
        {{"--bars", eurusd, "--leverage", "0"}, 2, "--leverage"},
        {{"--bars", (dir / "missing.csv").string()}, 1, "missing.csv: no such file"},
        {{"--bars", eurusd, "--timeframe", "M5"}, 2, "--timeframe: M5 is below the timeframe of"},
        {{"--bars", eurusd, "--timeframe", "H2"}, 2, "--timeframe: \"H2\" is not one of"},
        {{"--bars", eurusd, "--model", "ticks"}, 2, "--model: ticks needs a tick file"},
        {{"--bars", eurusd, "--model", "lower"}, 2, "--model: lower needs bars of a lower timeframe"},
        {{"--bars", eurusd, "--decide", "often"}, 2, "--decide: \"often\" is neither bar nor tick"},
        {{"--bars", eurusd, "--equity", "all"}, 2, "--equity"},
        {{"--bars", eurusd, "--min-lot", "1", "--max-lot", "0.5"}, 2, "--max-lot: must not be below --min-lot"},
        {{"--bars", (dir / "bad.csv").string()}, 1, "bad.csv:3: close \"x\" is not a positive number"},
        {{"--bars", (dir / "short.csv").string(), "--symbol", "EURUSD"}, 1, "fewer than the window"},
        {{"--bars", eurusd, "--symbol", "EURGBP"}, 1, "give --conversion-rate (USD per GBP)"},
        {{"--bars", eurusd, "--symbol", "GOLD"}, 1, "cannot tell the currencies"},
        {{"--bars", eurusd, "--from", "2030.01.01"}, 1, "no bar of the test range"},
        {{"--bars", eurusd, "--to", "2024.13.01"}, 2, "--to: \"2024.13.01\""},
        {{"--bars", eurusd, "--slippage", "5:2"}, 2, "--slippage: 5:2: B is below A"},
        {{"--bars", eurusd, "--slippage", "-1"}, 2, "--slippage"},
        {{"--bars", eurusd, "--stops-too-close", "ignore"}, 2, "--stops-too-close: \"ignore\" is neither move nor refuse"},
        {{"--bars", eurusd, "--triple-day", "sat"}, 2, "--triple-day: \"sat\" is none of"},
        {{"--bars", eurusd, "--commission-per", "lot"}, 2, "--commission-per"},
        {{"--bars", eurusd, "--costs", "all"}, 2, "--costs"},
        {{"--bars", eurusd, "--rollover-hour", "24"}, 2, "--rollover-hour: 24 is outside 0 to 23"},
        {{"--bars", eurusd, "--bars", eurusd, "--symbol", "EURUSD"}, 2, "--symbol: given 1 times for 2 charts"},
        {{"--bars", eurusd + "+", "--symbol", "EURUSD"}, 2, "names an empty file"},
        {{"--bars", eurusd, "--symbols", (dir / "none.csv").string()}, 1, "none.csv: cannot read the instrument table"},
        {{"--bars", eurusd, "--symbol", "EURUSD", "--bars", eurusd, "--symbol", "AUDCAD"}, 1,
         "give --conversion-rate (USD per CAD)"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        if (c.args[0] == "--bars") {
            args.push_back("--report");
            args.push_back(report);
        }
        const Outcome o = RunCli(args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
        EXPECT_TRUE(o.out.empty()) << o.out;
        EXPECT_FALSE(fs::exists(report));
    }
}

// Runs the tester into dir and answers the report files' contents.
std::vector<std::string> ReportInto(const fs::path& dir, std::vector<std::string> args)
{
    args.push_back("--report");
    args.push_back(dir.string());
    args.push_back("--quiet");
    const Outcome o = RunCli(args);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.err.empty()) << o.err;
    std::vector<std::string> files;
    for (const char* name : ReportFiles) {
        EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
        files.push_back(ReadAll(dir / name));
    }
    return files;
}

TEST(Cli, EqualRunsWriteByteIdenticalReports)
{
    const fs::path dir = ScratchFolder();
    for (const char* model : {"open", "ohlc", "lower"}) {
        SCOPED_TRACE(model);
        const std::vector<std::string> args = {"--bars",      BundledFile("USDJPY_M15.csv"), "--timeframe", "H1",
                                               "--model",     model,                         "--to",
                                               "2023.09.30", "--decide",                     "bar"};
        const std::vector<std::string> a = ReportInto(dir / model / "a", args);
        const std::vector<std::string> b = ReportInto(dir / model / "b", args);
        EXPECT_EQ(a, b);

        // The files agree with each other.
        const nlohmann::json report = nlohmann::json::parse(a[0]);
        const std::string& trades = a[1];
        const auto rows = static_cast<int64_t>(std::count(trades.begin(), trades.end(), '\n')) - 1;
        EXPECT_GT(rows, 0);
        EXPECT_EQ(report["figures"]["total_trades"].get<int64_t>(), rows);
        EXPECT_EQ(report["settings"]["model"], model);
        EXPECT_EQ(report["settings"]["decide"], "bar");
        if (std::string(model) == "lower") {
            EXPECT_EQ(report["modelling_quality"]["real_path_from"], "M15");
        } else {
            EXPECT_TRUE(report["modelling_quality"]["real_path_from"].is_null());
        }
        // One equity row per chart bar of the test, and one after the final close.
        const std::string& equity = a[2];
        EXPECT_EQ(static_cast<int64_t>(std::count(equity.begin(), equity.end(), '\n')) - 2,
                  report["figures"]["bars_in_test"].get<int64_t>());
        EXPECT_EQ(report["settings"]["profit_conversion"], "divide-by-price");
        // The page's data: every trade, one point per chart bar, its figures those of report.json.
        const nlohmann::json page = testing::PageData(a[3]);
        EXPECT_EQ(page["trades"]["ticket"].size(), static_cast<size_t>(rows));
        EXPECT_EQ(page["equity"]["time"].size(), report["figures"]["bars_in_test"].get<size_t>());
        EXPECT_EQ(page["charts"][0]["candles"]["time"].size(), report["figures"]["bars_in_test"].get<size_t>());
        EXPECT_EQ(page["histogram"], report["figures"]["trade_histogram"]);
        EXPECT_EQ(page["monthly"], report["figures"]["monthly_returns"]);
    }
}

TEST(Cli, BothFileFormatsGiveTheSameTest)
{
    const fs::path dir = ScratchFolder();
    // The first 2,000 bars of the bundled file, once as they are and once as
    // the terminal's History Center exports them.
    const std::string original = ReadAll(BundledFile("EURUSD_H1.csv"));
    std::istringstream lines(original);
    std::string line, header, exported;
    std::getline(lines, line);
    header = line + "\n";
    for (int i = 0; i < 2000 && std::getline(lines, line); ++i) {
        header += line + "\n";
        line[line.find(' ')] = ',';
        exported += line + "\r\n";
    }
    testing::WriteAll(dir / "EURUSD_H1.csv", header);
    testing::WriteAll(dir / "EURUSD60.csv", exported);
    const std::vector<std::string> a = ReportInto(dir / "a", {"--bars", (dir / "EURUSD_H1.csv").string()});
    const std::vector<std::string> b = ReportInto(dir / "b", {"--bars", (dir / "EURUSD60.csv").string()});
    EXPECT_EQ(a[1], b[1]);  // trades
    EXPECT_EQ(a[2], b[2]);  // equity
    EXPECT_EQ(nlohmann::json::parse(a[0])["figures"], nlohmann::json::parse(b[0])["figures"]);
    EXPECT_EQ(nlohmann::json::parse(b[0])["data"]["format"], "history-center");
}

// Fewer digits than the data prints: every price is rounded to the digits as
// it is read, so a trade's profit is the one its printed prices give.
TEST(Cli, FewerDigitsThanTheDataRoundEveryPrice)
{
    const fs::path dir = ScratchFolder();
    const std::vector<std::string> files =
        ReportInto(dir, {"--bars", BundledFile("EURUSD_H1.csv"), "--digits", "4", "--to", "2023.06.30"});
    std::istringstream rows(files[1]);
    std::string row;
    std::getline(rows, row);  // the header
    int trades = 0;
    while (std::getline(rows, row)) {
        std::vector<std::string> f;
        std::stringstream fields(row);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        ASSERT_GE(f.size(), 13u) << row;
        const double open = std::stod(f[4]), lots = std::stod(f[5]), close = std::stod(f[9]);
        const double move = f[2] == "buy" ? close - open : open - close;
        EXPECT_NEAR(std::stod(f[12]), std::round(move * lots * 100000.0 * 100.0) / 100.0, 1e-9) << row;
        ++trades;
    }
    EXPECT_GT(trades, 5);
}

// Two charts: --bars twice, or joined by +, give the same report, and the
// report names both symbols.
TEST(Cli, PortfolioByRepeatedBarsOrPlus)
{
    const fs::path dir = ScratchFolder();
    const std::string a = BundledFile("EURUSD_H1.csv"), b = BundledFile("USDJPY_H1.csv");
    const std::vector<std::string> twice =
        ReportInto(dir / "twice", {"--bars", a, "--bars", b, "--from", "2024.06.01", "--commission", "5"});
    const std::vector<std::string> plus =
        ReportInto(dir / "plus", {"--bars", a + "+" + b, "--from", "2024.06.01", "--commission", "5"});
    EXPECT_EQ(twice[1], plus[1]);
    EXPECT_EQ(twice[2], plus[2]);
    const nlohmann::json report = nlohmann::json::parse(twice[0]);
    ASSERT_EQ(report["symbols"].size(), 2u);
    EXPECT_EQ(report["symbols"][0]["symbol"], "EURUSD");
    EXPECT_EQ(report["symbols"][1]["symbol"], "USDJPY");
    EXPECT_EQ(report["symbols"][1]["instrument"], "USDJPY row of the bundled table");
    EXPECT_EQ(report["symbols"][1]["settings"]["profit_conversion"], "divide-by-price");
    const std::string& trades = twice[1];
    EXPECT_NE(trades.find(",EURUSD,"), std::string::npos);
    EXPECT_NE(trades.find(",USDJPY,"), std::string::npos);
    EXPECT_LT(report["figures"]["total_commission"].get<double>(), 0.0);
}

// The tick week: every real tick, times with milliseconds.
TEST(Cli, TickFileRunsAndReportsWithMilliseconds)
{
    const fs::path dir = ScratchFolder();
    const std::vector<std::string> files =
        ReportInto(dir / "t", {"--bars", BundledFile("EURUSD_ticks.csv"), "--timeframe", "M15", "--window", "98"});
    const nlohmann::json report = nlohmann::json::parse(files[0]);
    EXPECT_EQ(report["data"]["format"], "tick-export");
    EXPECT_EQ(report["settings"]["model"], "ticks");
    EXPECT_EQ(report["modelling_quality"]["real_path_from"], "ticks");
    EXPECT_EQ(report["figures"]["ticks_modelled"].get<int64_t>() > 100000, true);
    // The shipped expert opens nothing in that week; equity.csv has a row
    // per M15 bar, its times with milliseconds: YYYY.MM.DD HH:MM:SS.mmm.
    const std::string& equity = files[2];
    const std::string firstRow = equity.substr(equity.find('\n') + 1);
    const std::string time = firstRow.substr(0, firstRow.find(','));
    EXPECT_EQ(time, "2014.05.08 00:15:00.000");
}

}  // namespace
}  // namespace torvik::tester
