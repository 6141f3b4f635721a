#include "tester/report/page/report_page.h"

namespace torvik::tester {

namespace {

void Write(std::ostream& out, std::string_view text) { out.write(text.data(), static_cast<std::streamsize>(text.size())); }

// JSON inside a script element: '<' becomes the JSON escape \u003c (a '<'
// can only stand inside a JSON string), so "</script>" or "<!--" in a text
// of the data cannot end or disturb the element.
void WriteScriptSafe(std::ostream& out, std::string_view json)
{
    for (size_t at = 0; at < json.size();) {
        const size_t lt = json.find('<', at);
        Write(out, json.substr(at, lt == std::string_view::npos ? std::string_view::npos : lt - at));
        if (lt == std::string_view::npos) break;
        Write(out, "\\u003c");
        at = lt + 1;
    }
}

}  // namespace

void WriteReportPage(std::ostream& out, std::string_view dataJson)
{
    const std::string_view page = ReportPageTemplate();
    // embed.cmake refuses a template without both placeholders in this order.
    const size_t library = page.find(ChartLibraryPlaceholder);
    const size_t data = page.find(ReportDataPlaceholder);
    const size_t afterLibrary = library + ChartLibraryPlaceholder.size();

    Write(out, page.substr(0, library));
    Write(out, ChartLibraryScript());
    Write(out, page.substr(afterLibrary, data - afterLibrary));
    Write(out, "window.TORVIK_REPORT = ");
    WriteScriptSafe(out, dataJson);
    Write(out, ";");
    Write(out, page.substr(data + ReportDataPlaceholder.size()));
}

}  // namespace torvik::tester
