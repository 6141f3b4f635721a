#pragma once
// The report page (report.html): one self-contained HTML file made of the
// page template, the chart library inlined into it, and the report's data
// object (window.TORVIK_REPORT, described in the README's "Report page").

#include <functional>
#include <ostream>
#include <string_view>

namespace torvik::tester {

// Where the template takes the chart library and the data; each occurs once,
// inside its own script element, the library's first (checked when built).
inline constexpr std::string_view ChartLibraryPlaceholder = "/*@CHART_LIBRARY@*/";
inline constexpr std::string_view ReportDataPlaceholder = "/*@REPORT_DATA@*/";

// The page template with both placeholders, as in tester/report/page/report.html.
std::string_view ReportPageTemplate();

// The chart library's standalone build (vendor/lightweight-charts/).
std::string_view ChartLibraryScript();

// Writes the whole page: the template with the library and, in place of the
// data placeholder, "window.TORVIK_REPORT = <dataJson>;". dataJson is one JSON
// value (the data object); every '<' in it is written as \u003c, so no text
// in it can end the script element early.
void WriteReportPage(std::ostream& out, std::string_view dataJson);

// The same with the data object streamed: writeData writes the JSON value
// into the stream it is handed, piece by piece (a report's data can be tens
// of megabytes), and every '<' in it becomes \u003c on the way.
void WriteReportPage(std::ostream& out, const std::function<void(std::ostream& data)>& writeData);

}  // namespace torvik::tester
