// report.html: the page (tester/report/page/) with the run's data object,
// window.TORVIK_REPORT, written piece by piece from the report folder's files
// read back: the chart bars of the test (a scratch file the run writes),
// trades.csv and equity.csv. Memory stays that of one line of a file, so a
// test of ten years writes its page as a test of a week does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>

#include "tester/market/path.h"
#include "tester/report/report.h"

namespace torvik::tester {

// A chart bar as the scratch file holds it: what the page draws.
struct StoredBar {
    uint32_t time;
    uint32_t chart;  // the chart of the run (also keeps the record free of padding bytes)
    double open;
    double high;
    double low;
    double close;
};
StoredBar StoreBar(const ChartBar& bar);

struct PageFiles {
    std::filesystem::path trades;     // trades.csv
    std::filesystem::path equity;     // equity.csv
    std::filesystem::path chartBars;  // StoredBar records
};

// The data object: one JSON value.
void WritePageData(std::ostream& out, const TestRun& run, const PageFiles& files);
// The whole page.
void WriteReportHtml(std::ostream& out, const TestRun& run, const PageFiles& files);

}  // namespace torvik::tester
