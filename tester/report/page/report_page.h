#pragma once
// The report page (report.html): one self-contained HTML file made of the
// page template, the chart library inlined into it, and the report's data
// object (window.TORVIK_REPORT, described in the README's "Report page").

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

}  // namespace torvik::tester
