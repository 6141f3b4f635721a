// The report of a test: the console summary and the report folder
// (report.json, trades.csv, equity.csv, report.html). trades.csv and
// equity.csv are written row by row as the run goes; report.json and
// report.html at the end, the page from the two files read back. Every file
// is written under a temporary name and renamed only when all four are
// complete. Every text is a function of the inputs alone, so equal runs
// give byte-identical files.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tester/data/source.h"
#include "tester/market/settings.h"
#include "tester/run/backtest.h"

namespace torvik::tester {

struct TestRun {
    std::string dataFile;  // as given on the command line
    FileInfo info;         // of the first chart's file
    TestSettings settings; // the first chart's, with the account's
    RunOutcome outcome;
    std::vector<ChartSource> charts;  // every chart with its settings; may be left empty for one chart
    // Chart c's settings.
    const TestSettings& ChartSettings(size_t c) const
    {
        return c < charts.size() && charts[c].settings ? *charts[c].settings : settings;
    }
};

std::string ConsoleSummary(const TestRun& run);
std::string ReportJson(const TestRun& run);

// The trades.csv and equity.csv rows.
inline constexpr const char* TradesHeader =
    "ticket,symbol,type,open_time,open_price,lots,stop_loss,take_profit,close_time,close_price,commission,swap,"
    "profit,balance,reason,mae,mfe,note\n";
inline constexpr const char* EquityHeader = "time,balance,equity,equity_low,equity_high,margin,free_margin,positions\n";
std::string TradeRow(const Trade& t, const TestSettings& s, bool tickTimes);
std::string EquityRowText(const EquityRow& r, const TestSettings& s, bool tickTimes);

// The report folder as a sink of the run.
class ReportFolder : public RunSink {
public:
    // Creates the folder and opens the streamed files under temporary names.
    // charts: each chart's settings, for several charts (their trades' digits and symbols).
    ReportFolder(const std::string& dir, const TestSettings& settings, bool tickTimes,
                 std::vector<TestSettings> charts = {});
    // Without Finish, removes what it wrote.
    ~ReportFolder() override;
    ReportFolder(const ReportFolder&) = delete;
    ReportFolder& operator=(const ReportFolder&) = delete;

    void OnTrade(const Trade& trade) override;
    void OnEquityRow(const EquityRow& row) override;
    // Writes report.json and report.html, then renames the four into place.
    void Finish(const TestRun& run);

private:
    std::filesystem::path Partial(const char* name) const;
    void CloseFiles();

    std::filesystem::path dir_;
    TestSettings settings_;
    std::vector<TestSettings> charts_;
    bool tickTimes_;
    std::FILE* trades_ = nullptr;
    std::FILE* equity_ = nullptr;
    bool finished_ = false;
    bool created_ = false;  // the folder did not exist before
};

}  // namespace torvik::tester
