// The report of a test: the console summary and the report folder
// (report.json, trades.csv, equity.csv, report.html). trades.csv and
// equity.csv are written row by row as the run goes, and the chart bars of
// the test into a scratch file beside them; report.json and report.html at
// the end, the page from those three files read back. Every file is written
// under a temporary name and renamed only when all four are complete. Every
// text is a function of the inputs alone, so equal runs give byte-identical
// files.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tester/data/source.h"
#include "tester/market/settings.h"
#include "tester/run/backtest.h"

namespace torvik::tester {

inline constexpr const char* TesterVersion = "torvik-tester 1.1.0";

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
    std::map<std::string, std::string> given;  // the options as given, by name (RunInputs::given)
};

// Labelled texts under a heading: the page's parameters and figures.
struct TextGroup {
    std::string group;
    std::vector<std::pair<std::string, std::string>> rows;
};

std::string ConsoleSummary(const TestRun& run);
std::string ReportJson(const TestRun& run);
// The figures as the console and the page show them.
std::vector<TextGroup> FigureGroups(const TestRun& run);
// Every input of the run: each option of the run's table (as given, its
// default, or what the data resolved it to) and what the data told.
std::vector<TextGroup> ParameterGroups(const TestRun& run);
// The chart timeframe of the run, in seconds.
uint32_t ChartTimeframe(const TestRun& run);
// "The test stopped at ..." or "at the end of the data or range, ...".
std::string EndText(const TestRun& run);

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
    void OnChartBar(const ChartBar& bar) override;
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
    std::FILE* bars_ = nullptr;  // the chart bars for the page, removed at the end
    bool finished_ = false;
    bool created_ = false;  // the folder did not exist before
};

}  // namespace torvik::tester
