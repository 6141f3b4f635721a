// The report of a test: the console summary and the files of the report
// folder (report.json, trades.csv, equity.csv, report.html). Every text is a
// function of the inputs alone, so equal runs give byte-identical files.
#pragma once

#include <string>

#include "tester/data/bar_file.h"
#include "tester/report/figures.h"
#include "tester/run/replay.h"
#include "tester/market/settings.h"

namespace torvik::tester {

struct TestRun {
    std::string barFile;  // as given on the command line
    BarFormat format = BarFormat::HistoryCenter;
    uint32_t timeframeSeconds = 0;
    size_t barsInFile = 0;
    uint32_t firstBarTime = 0;  // of the bars with ticks
    uint32_t lastBarTime = 0;
    TestSettings settings;
    ReplayResult result;
    Figures figures;
};

std::string ConsoleSummary(const TestRun& run);
std::string TradesCsv(const TestRun& run);
std::string EquityCsv(const TestRun& run);
std::string ReportJson(const TestRun& run);
std::string ReportHtml(const TestRun& run);

// Writes the four files into dir (created if missing). Each file is written
// under a temporary name first and renamed only once all four are complete,
// so a failed run never leaves a partial report under the final names.
void WriteReport(const std::string& dir, const TestRun& run);

}  // namespace torvik::tester
