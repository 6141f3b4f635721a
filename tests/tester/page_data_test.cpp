// report.html's data object as the tester writes it: it holds what the
// report folder's files hold, one point per chart bar whatever the rows of
// equity.csv, and every input of the run.
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_paths.h"
#include "tester/cli/cli.h"
#include "tester/run/options.h"

namespace torvik::tester {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::BundledFile;
using testing::ReadAll;
using testing::ScratchFolder;

// Runs the tester into dir; answers the page's data object.
json PageOf(const fs::path& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), "torvik-tester");
    args.insert(args.end(), {"--report", dir.string(), "--quiet"});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    EXPECT_EQ(RunTester(static_cast<int>(argv.size()), argv.data(), out, err, false), 0) << err.str();
    return testing::PageData(ReadAll(dir / "report.html"));
}

std::vector<std::vector<std::string>> CsvRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ',')) fields.push_back(field);
        if (!line.empty() && line.back() == ',') fields.emplace_back();
        rows.push_back(fields);
    }
    return rows;
}

TEST(PageData, HoldsTheTradesOnTheirCandles)
{
    const fs::path dir = ScratchFolder();
    const json page = PageOf(dir, {"--bars", BundledFile("EURUSD_M15.csv"), "--timeframe", "H1", "--to", "2023.12.31"});
    ASSERT_TRUE(page.is_object());
    EXPECT_EQ(page["version"], 1);
    EXPECT_EQ(page["title"], "EURUSD H1");
    const json& chart = page["charts"][0];
    EXPECT_EQ(chart["symbol"], "EURUSD");
    EXPECT_EQ(chart["timeframe"], 3600);
    const json& candles = chart["candles"];
    const size_t bars = candles["time"].size();
    for (const char* column : {"open", "high", "low", "close"}) EXPECT_EQ(candles[column].size(), bars) << column;
    for (size_t i = 0; i < bars; ++i) {
        ASSERT_EQ(candles["time"][i].get<int64_t>() % 3600, 0) << i;
        if (i > 0) ASSERT_GT(candles["time"][i], candles["time"][i - 1]) << i;
        ASSERT_GE(candles["high"][i], candles["low"][i]) << i;
    }

    // Every trade of trades.csv, column for column, and on a candle whose
    // range holds its entry's bid.
    const auto rows = CsvRows(ReadAll(dir / "trades.csv"));
    const json& trades = page["trades"];
    ASSERT_GT(rows.size(), 10u);
    for (const auto& [name, column] : trades.items()) EXPECT_EQ(column.size(), rows.size()) << name;
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i][0]);
        EXPECT_EQ(trades["ticket"][i].get<int64_t>(), std::stoll(rows[i][0]));
        EXPECT_EQ(trades["side"][i], rows[i][2]);
        EXPECT_DOUBLE_EQ(trades["openPrice"][i].get<double>(), std::stod(rows[i][4]));
        EXPECT_DOUBLE_EQ(trades["stopLoss"][i].get<double>(), rows[i][6].empty() ? 0.0 : std::stod(rows[i][6]));
        EXPECT_DOUBLE_EQ(trades["commission"][i].get<double>(), std::stod(rows[i][10]));
        EXPECT_DOUBLE_EQ(trades["profit"][i].get<double>(), std::stod(rows[i][12]));
        EXPECT_EQ(trades["reason"][i], rows[i][14]);
        EXPECT_EQ(trades["note"][i], rows.at(i).size() > 17 ? rows[i][17] : "");
        const int64_t open = trades["openTime"][i];
        EXPECT_LE(open, trades["closeTime"][i].get<int64_t>());
        size_t bar = 0;
        while (bar + 1 < bars && candles["time"][bar + 1].get<int64_t>() <= open) ++bar;
        EXPECT_EQ(candles["time"][bar].get<int64_t>(), open / 3600 * 3600);
        // a buy opens at the ask: the bid was at or below the entry within the bar
        if (rows[i][2] == "buy") EXPECT_GE(trades["openPrice"][i].get<double>(), candles["low"][bar].get<double>());
        if (rows[i][2] == "sell") EXPECT_LE(trades["openPrice"][i].get<double>(), candles["high"][bar].get<double>());
    }
}

TEST(PageData, OnePointPerChartBarWhateverTheEquityRows)
{
    // With the real path the equity of a bar is that of its last tick in
    // both forms of equity.csv, so the page's points are the same.
    const fs::path dir = ScratchFolder();
    const std::vector<std::string> args = {"--bars", BundledFile("USDJPY_M15.csv"), "--timeframe", "H1", "--to",
                                           "2023.09.30"};
    std::vector<std::string> ticks = args;
    ticks.insert(ticks.end(), {"--equity", "ticks"});
    const json bars = PageOf(dir / "bars", args);
    const json perTick = PageOf(dir / "ticks", ticks);
    EXPECT_EQ(bars["equity"], perTick["equity"]);
    EXPECT_EQ(bars["equity"]["time"], bars["charts"][0]["candles"]["time"]);
    EXPECT_GT(CsvRows(ReadAll(dir / "ticks" / "equity.csv")).size(), 3 * bars["equity"]["time"].size());
    // The last point is the balance after the final close.
    const json& last = bars["equity"]["balance"].back();
    EXPECT_EQ(last, bars["trades"]["balance"].back());
}

TEST(PageData, ParametersListEveryInputOfTheRun)
{
    const fs::path dir = ScratchFolder();
    const json page = PageOf(dir, {"--bars", BundledFile("EURUSD_H1.csv"), "--from", "2024.06.01", "--spread", "15",
                                   "--risk", "1.5"});
    std::map<std::string, std::string> listed;
    for (const json& group : page["parameters"]) {
        for (const json& row : group["rows"]) {
            const std::string label = row[0];
            EXPECT_TRUE(listed.emplace(label, row[1]).second) << label << " twice";
        }
    }
    for (const OptionEntry& o : RunOptions()) {
        const std::string name = std::string("--") + o.name;
        const bool changesNothing = name == "--report" || name == "--quiet" || name == "--signals";
        EXPECT_EQ(listed.count(name), changesNothing ? 0u : 1u) << name;
    }
    EXPECT_EQ(listed["--spread"], "15");
    EXPECT_EQ(listed["--risk"], "1.5");
    EXPECT_EQ(listed["--from"], "2024.06.01");
    EXPECT_EQ(listed["--window"], "300 (default)");
    EXPECT_EQ(listed["--symbol"], "EURUSD (from the file name)");
    EXPECT_EQ(listed["--model"], "open (for this data and chart)");
    EXPECT_NE(listed["Modelling quality"].find("no real intrabar path"), std::string::npos);
}

TEST(PageData, GivesEachChartOfAPortfolioItsCandlesAndTrades)
{
    const fs::path dir = ScratchFolder();
    const json page = PageOf(dir, {"--bars", BundledFile("EURUSD_H1.csv"), "--bars", BundledFile("USDJPY_H1.csv"),
                                   "--to", "2023.06.30"});
    ASSERT_TRUE(page.is_object());
    EXPECT_EQ(page["title"], "EURUSD H1 + USDJPY");
    ASSERT_EQ(page["charts"].size(), 2u);
    const char* symbols[] = {"EURUSD", "USDJPY"};
    for (size_t c = 0; c < 2; ++c) {
        const json& chart = page["charts"][c];
        EXPECT_EQ(chart["symbol"], symbols[c]);
        const json& times = chart["candles"]["time"];
        ASSERT_GT(times.size(), 1000u);
        for (size_t i = 1; i < times.size(); ++i) ASSERT_GT(times[i], times[i - 1]) << symbols[c] << " " << i;
    }
    // USDJPY prices are near 130, EURUSD's near 1: a candle of the wrong
    // chart would show at once.
    EXPECT_LT(page["charts"][0]["candles"]["high"][0].get<double>(), 2.0);
    EXPECT_GT(page["charts"][1]["candles"]["low"][0].get<double>(), 100.0);

    const auto rows = CsvRows(ReadAll(dir / "trades.csv"));
    const json& trades = page["trades"];
    ASSERT_EQ(trades["chart"].size(), rows.size());
    size_t perChart[2] = {0, 0};
    for (size_t i = 0; i < rows.size(); ++i) {
        const size_t chart = trades["chart"][i].get<size_t>();
        ASSERT_LT(chart, 2u);
        EXPECT_EQ(rows[i][1], symbols[chart]) << i;
        ++perChart[chart];
    }
    EXPECT_GT(perChart[0], 0u);
    EXPECT_GT(perChart[1], 0u);
}

}  // namespace
}  // namespace torvik::tester
