// The report page as the C++ writer assembles it: the embedded texts are the
// files' bytes, and the assembled page keeps no placeholder, holds the library
// and the data, and no text of the data can end its script element.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "tester/report/page/report_page.h"

namespace torvik::tester {
namespace {

std::string ReadSource(const std::string& path)
{
    std::ifstream in(std::string(TORVIK_SOURCE_DIR) + "/" + path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

size_t Count(std::string_view text, std::string_view what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

std::string Page(std::string_view data)
{
    std::ostringstream out;
    WriteReportPage(out, data);
    return out.str();
}

TEST(ReportPage, EmbeddedTextsAreTheFilesBytes)
{
    EXPECT_EQ(ReportPageTemplate(), ReadSource("tester/report/page/report.html"));
    EXPECT_EQ(ChartLibraryScript(),
              ReadSource("tester/report/page/vendor/lightweight-charts/lightweight-charts.standalone.production.js"));
    EXPECT_GT(ChartLibraryScript().size(), 100000u);
}

TEST(ReportPage, AssembledPageHasTheLibraryAndTheDataInPlace)
{
    const std::string data = R"({"version":1,"title":"EURUSD H1","subtitle":"2023.01.02 · 2024.12.31"})";
    const std::string page = Page(data);

    EXPECT_EQ(Count(page, ChartLibraryPlaceholder), 0u);
    EXPECT_EQ(Count(page, ReportDataPlaceholder), 0u);
    EXPECT_EQ(Count(page, "@CHART_LIBRARY@") + Count(page, "@REPORT_DATA@"), 0u);
    EXPECT_EQ(page.size(), ReportPageTemplate().size() - ChartLibraryPlaceholder.size() -
                               ReportDataPlaceholder.size() + ChartLibraryScript().size() +
                               std::string_view("window.TORVIK_REPORT = ;").size() + data.size());

    // Each inside its own script element, the library first, in front of the page's own script.
    const size_t library = page.find(ChartLibraryScript());
    const size_t assignment = page.find("<script>window.TORVIK_REPORT = " + data + ";</script>");
    ASSERT_NE(library, std::string::npos);
    ASSERT_NE(assignment, std::string::npos);
    EXPECT_EQ(page.compare(library - 8, 8, "<script>"), 0);
    EXPECT_LT(library, assignment);
    EXPECT_LT(assignment, page.find("window.LightweightCharts;"));
    EXPECT_EQ(Count(page, "</script>"), Count(ReportPageTemplate(), "</script>"));
}

TEST(ReportPage, TextsOfTheDataCannotEndTheScript)
{
    struct Case {
        const char* data;
        const char* written;
    };
    const Case cases[] = {
        {R"({"title":"</script><script>alert(1)</script>"})",
         R"({"title":"\u003c/script>\u003cscript>alert(1)\u003c/script>"})"},
        {R"({"notices":["<!-- a comment", "a<b"]})", R"({"notices":["\u003c!-- a comment", "a\u003cb"]})"},
        {R"(["<<", "<"])", R"(["\u003c\u003c", "\u003c"])"},
        {R"({"title":"no angle bracket"})", R"({"title":"no angle bracket"})"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const std::string page = Page(c.data);
        EXPECT_NE(page.find(std::string("window.TORVIK_REPORT = ") + c.written + ";</script>"), std::string::npos);
        EXPECT_EQ(Count(page, "</script>"), Count(ReportPageTemplate(), "</script>"));
    }
}

TEST(ReportPage, StreamedDataIsWrittenLikeTheWholeText)
{
    // Pieces as a writer hands them: strings, single characters, numbers.
    const auto pieces = [](std::ostream& data) {
        data << "{\"title\":\"a<b\",";
        data.put('"');
        data << "notes\":[\"<" << '<' << "/script>\"],\"n\":" << 42 << "}";
    };
    std::ostringstream streamed;
    WriteReportPage(streamed, pieces);
    std::ostringstream whole;
    pieces(whole);
    EXPECT_EQ(streamed.str(), Page(whole.str()));
    EXPECT_NE(streamed.str().find(R"({"title":"a\u003cb","notes":["\u003c\u003c/script>"],"n":42};</script>)"),
              std::string::npos);
}

}  // namespace
}  // namespace torvik::tester
