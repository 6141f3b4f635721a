#include "tester/report/page/report_page.h"

#include <streambuf>

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

// A stream buffer that writes through to another stream, script-safe.
class ScriptSafeBuffer : public std::streambuf {
public:
    explicit ScriptSafeBuffer(std::ostream& out) : out_(out) {}

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        WriteScriptSafe(out_, std::string_view(&ch, 1));
        return out_ ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        WriteScriptSafe(out_, std::string_view(s, static_cast<size_t>(n)));
        return out_ ? n : 0;
    }

private:
    std::ostream& out_;
};

}  // namespace

void WriteReportPage(std::ostream& out, std::string_view dataJson)
{
    WriteReportPage(out, [dataJson](std::ostream& data) {
        data.write(dataJson.data(), static_cast<std::streamsize>(dataJson.size()));
    });
}

void WriteReportPage(std::ostream& out, const std::function<void(std::ostream& data)>& writeData)
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
    ScriptSafeBuffer buffer(out);
    std::ostream dataStream(&buffer);
    writeData(dataStream);
    dataStream.flush();
    Write(out, ";");
    Write(out, page.substr(data + ReportDataPlaceholder.size()));
}

}  // namespace torvik::tester
