#include "tester/report/page_data.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/data/error.h"
#include "tester/data/source.h"
#include "tester/report/page/report_page.h"
#include "tester/report/report_parts.h"

namespace torvik::tester {

namespace {

constexpr int32_t DataVersion = 1;
constexpr size_t BarsPerRead = 4096;
constexpr const char* MiddleDot = " \u00b7 ";

// Hands each value of a column to the writer, in row order.
using Emit = std::function<void(std::string_view value)>;

void Column(std::ostream& out, const char* name, const std::function<void(const Emit&)>& each)
{
    out << '"' << name << "\":[";
    bool first = true;
    each([&](std::string_view value) {
        if (!first) out << ',';
        first = false;
        out << value;
    });
    out << ']';
}

// An object of columns: {"name":[...],...}.
using ColumnWriter = std::function<void(const Emit&)>;
void Columns(std::ostream& out, const std::vector<std::pair<const char*, ColumnWriter>>& columns)
{
    out << '{';
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) out << ',';
        Column(out, columns[i].first, columns[i].second);
    }
    out << '}';
}

// Fields of a CSV line (no quoting: the writers never put a comma in a field).
void SplitFields(std::string_view line, std::vector<std::string_view>& fields)
{
    fields.clear();
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return;
        start = comma + 1;
    }
}

double Number(std::string_view s)
{
    double x = 0.0;
    std::from_chars(s.data(), s.data() + s.size(), x);
    return x;
}

// A number as the files print it is a JSON number; anything else (an empty
// level) is 0, "none" to the page.
std::string_view JsonNumber(std::string_view s)
{
    const size_t digit = !s.empty() && s[0] == '-' ? 1 : 0;
    if (s.size() <= digit || s[digit] < '0' || s[digit] > '9') return "0";
    double x = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
    return ec == std::errc() && end == s.data() + s.size() ? s : std::string_view("0");
}

std::string JsonText(std::string_view s) { return Json(std::string(s)).dump(); }

// Seconds of "YYYY.MM.DD HH:MM:SS" (a ".mmm" after it is dropped); 0 when malformed.
uint32_t Seconds(std::string_view text)
{
    const auto part = [&](size_t at, size_t length) {
        int32_t value = -1;
        if (at + length <= text.size()) std::from_chars(text.data() + at, text.data() + at + length, value);
        return value;
    };
    const std::optional<uint32_t> t =
        ToBarTime(CivilTime{part(0, 4), part(5, 2), part(8, 2), part(11, 2), part(14, 2), part(17, 2)});
    return t.value_or(0);
}

// Each data row of a CSV file, split, with the header's column numbers.
class CsvFile {
public:
    explicit CsvFile(const std::filesystem::path& path) : lines_(path.string())
    {
        std::string_view header;
        if (lines_.Next(header)) {
            SplitFields(header, fields_);
            names_.assign(fields_.begin(), fields_.end());
        }
    }
    // The column's number, or -1.
    int32_t Find(std::string_view name) const
    {
        const auto at = std::find(names_.begin(), names_.end(), name);
        return at == names_.end() ? -1 : static_cast<int32_t>(at - names_.begin());
    }
    int32_t Need(std::string_view name) const
    {
        const int32_t at = Find(name);
        if (at < 0) throw TesterError(fmt::format("{}: no column {}", lines_.Name(), name));
        return at;
    }
    // The next row's fields; false at the end.
    bool Next()
    {
        std::string_view line;
        while (lines_.Next(line)) {
            if (line.empty()) continue;
            SplitFields(line, fields_);
            return true;
        }
        return false;
    }
    std::string_view Field(int32_t column) const
    {
        return column >= 0 && static_cast<size_t>(column) < fields_.size() ? fields_[static_cast<size_t>(column)]
                                                                             : std::string_view();
    }

private:
    LineReader lines_;
    std::vector<std::string> names_;
    std::vector<std::string_view> fields_;
};

// ---- the chart bars

void EachBar(const std::filesystem::path& path, const std::function<void(const StoredBar&)>& each)
{
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (f == nullptr) throw TesterError(fmt::format("{}: cannot read", path.string()));
    std::vector<StoredBar> block(BarsPerRead);
    size_t got = 0;
    while ((got = std::fread(block.data(), sizeof(StoredBar), block.size(), f)) > 0) {
        for (size_t i = 0; i < got; ++i) each(block[i]);
    }
    std::fclose(f);
}

// The candles of one chart of the run.
void WriteCandles(std::ostream& out, const PageFiles& files, uint32_t chart, int32_t digits)
{
    const auto prices = [&](double StoredBar::*field) {
        return [&, field](const Emit& emit) {
            EachBar(files.chartBars, [&](const StoredBar& b) {
                if (b.chart == chart) emit(Price(b.*field, digits));
            });
        };
    };
    const auto times = [&](const Emit& emit) {
        EachBar(files.chartBars, [&](const StoredBar& b) {
            if (b.chart == chart) emit(std::to_string(b.time));
        });
    };
    Columns(out, {{"time", times},
                  {"open", prices(&StoredBar::open)},
                  {"high", prices(&StoredBar::high)},
                  {"low", prices(&StoredBar::low)},
                  {"close", prices(&StoredBar::close)}});
}

// ---- the trades: trades.csv by its header, so columns added to it (costs)
// are taken when there and 0 when not

enum class Kind { Number, Time, Text, Chart };

struct TradeColumn {
    const char* page;  // the data object's name
    const char* csv;   // trades.csv's
    Kind kind;
    bool optional;     // 0 in every row when trades.csv has no such column
};

constexpr TradeColumn TradeColumns[] = {
    {"ticket", "ticket", Kind::Number, false},        {"chart", "symbol", Kind::Chart, false},
    {"side", "type", Kind::Text, false},              {"lots", "lots", Kind::Number, false},
    {"openTime", "open_time", Kind::Time, false},     {"openPrice", "open_price", Kind::Number, false},
    {"stopLoss", "stop_loss", Kind::Number, false},   {"takeProfit", "take_profit", Kind::Number, false},
    {"closeTime", "close_time", Kind::Time, false},   {"closePrice", "close_price", Kind::Number, false},
    {"commission", "commission", Kind::Number, true}, {"swap", "swap", Kind::Number, true},
    {"profit", "profit", Kind::Number, false},        {"balance", "balance", Kind::Number, false},
    {"reason", "reason", Kind::Text, false},          {"mae", "mae", Kind::Number, false},
    {"mfe", "mfe", Kind::Number, false},              {"note", "note", Kind::Text, false},
};

void WriteTrades(std::ostream& out, const TestRun& run, const PageFiles& files)
{
    // A trade's chart: the first chart of its symbol.
    const auto chartOf = [&run](std::string_view symbol) {
        const size_t charts = std::max<size_t>(1, run.charts.size());
        for (size_t c = 0; c < charts; ++c) {
            if (run.ChartSettings(c).symbol == symbol) return c;
        }
        return size_t{0};
    };
    std::vector<std::pair<const char*, ColumnWriter>> columns;
    for (const TradeColumn& c : TradeColumns) {
        columns.emplace_back(c.page, [&files, &c, &chartOf](const Emit& emit) {
            CsvFile csv(files.trades);
            const int32_t at = c.optional ? csv.Find(c.csv) : csv.Need(c.csv);
            while (csv.Next()) {
                const std::string_view field = csv.Field(at);
                switch (c.kind) {
                case Kind::Number: emit(JsonNumber(field)); break;
                case Kind::Time: emit(std::to_string(Seconds(field))); break;
                case Kind::Text: emit(JsonText(field)); break;
                case Kind::Chart: emit(std::to_string(chartOf(field))); break;
                }
            }
        });
    }
    Columns(out, columns);
}

// ---- the equity: one point per chart bar (rows of --equity ticks, and the
// row after the final close, join the bar that holds them): balance and
// equity as the bar ended, the lowest and highest equity within it

struct EquityBar {
    uint32_t time = 0;
    double balance = 0.0;
    double equity = 0.0;
    double low = 0.0;
    double high = 0.0;
};

void EachEquityBar(const PageFiles& files, uint32_t timeframe, const std::function<void(const EquityBar&)>& each)
{
    CsvFile csv(files.equity);
    const int32_t time = csv.Need("time"), balance = csv.Need("balance"), equity = csv.Need("equity"),
                  low = csv.Need("equity_low"), high = csv.Need("equity_high");
    EquityBar bar;
    bool any = false;
    while (csv.Next()) {
        const uint32_t at = AlignToTimeframe(Seconds(csv.Field(time)), timeframe);
        const double l = Number(csv.Field(low)), h = Number(csv.Field(high));
        if (any && at != bar.time) each(bar);
        if (!any || at != bar.time) {
            bar.time = at;
            bar.low = l;
            bar.high = h;
        }
        any = true;
        bar.balance = Number(csv.Field(balance));
        bar.equity = Number(csv.Field(equity));
        bar.low = std::min(bar.low, l);
        bar.high = std::max(bar.high, h);
    }
    if (any) each(bar);
}

void WriteEquity(std::ostream& out, const TestRun& run, const PageFiles& files)
{
    const uint32_t timeframe = ChartTimeframe(run);
    const auto money = [&](double EquityBar::*field) {
        return [&, field](const Emit& emit) {
            EachEquityBar(files, timeframe, [&](const EquityBar& b) { emit(Money(b.*field)); });
        };
    };
    const auto times = [&](const Emit& emit) {
        EachEquityBar(files, timeframe, [&](const EquityBar& b) { emit(std::to_string(b.time)); });
    };
    Columns(out, {{"time", times},
                  {"balance", money(&EquityBar::balance)},
                  {"equity", money(&EquityBar::equity)},
                  {"low", money(&EquityBar::low)},
                  {"high", money(&EquityBar::high)}});
}

// ---- texts

Json GroupsJson(const std::vector<TextGroup>& groups)
{
    Json list = Json::array();
    for (const TextGroup& g : groups) {
        Json rows = Json::array();
        for (const auto& [label, text] : g.rows) rows.push_back(Json::array({label, text}));
        list.push_back(Json{{"group", g.group}, {"rows", std::move(rows)}});
    }
    return list;
}

Json Notices(const TestRun& run)
{
    Json notices = Json::array();
    const RunOutcome& r = run.outcome;
    if (r.emptied) {
        notices.push_back(fmt::format("The test stopped at {}: a stop-out left no money.",
                                      FormatTickTime(r.endedAtMs, run.info.IsTicks())));
    }
    if (r.tally.refusalCount > 0) {
        notices.push_back(fmt::format("{} order{} refused (report.json lists {}).", r.tally.refusalCount,
                                      r.tally.refusalCount == 1 ? " was" : "s were",
                                      r.tally.refusalCount <= MaxListedRefusals ? "them" : "the first 1,000"));
    }
    return notices;
}

}  // namespace

StoredBar StoreBar(const ChartBar& bar)
{
    return StoredBar{bar.time, static_cast<uint32_t>(bar.chart), bar.open, bar.high, bar.low, bar.close};
}

void WritePageData(std::ostream& out, const TestRun& run, const PageFiles& files)
{
    const TestSettings& s = run.settings;
    const RunOutcome& r = run.outcome;
    const std::string timeframe = TimeframeName(ChartTimeframe(run));
    out << "{\"version\":" << DataVersion;
    std::string title = s.symbol + " " + timeframe;
    for (size_t c = 1; c < run.charts.size(); ++c) title += " + " + run.ChartSettings(c).symbol;
    out << ",\"title\":" << JsonText(title);
    out << ",\"subtitle\":"
        << JsonText(fmt::format("{}{}{}{}{} to {}{}model {}, decides per {}", TesterVersion, MiddleDot, run.dataFile,
                                MiddleDot, FormatBarTime(r.firstBarTime), FormatBarTime(r.lastBarTime), MiddleDot,
                                ModelName(s.model), CadenceName(s.cadence)));
    out << ",\"currency\":" << JsonText(s.currency);
    out << ",\"deposit\":" << Money(s.deposit);
    out << ",\"notices\":" << Notices(run).dump();
    out << ",\"parameters\":" << GroupsJson(ParameterGroups(run)).dump();
    out << ",\"figures\":" << GroupsJson(FigureGroups(run)).dump();
    out << ",\"charts\":[";
    const size_t charts = std::max<size_t>(1, run.charts.size());
    for (size_t c = 0; c < charts; ++c) {
        const TestSettings& x = run.ChartSettings(c);
        const uint32_t tf = x.timeframeSeconds != 0 ? x.timeframeSeconds
                            : c < run.charts.size() ? run.charts[c].info.timeframeSeconds
                                                    : ChartTimeframe(run);
        out << (c == 0 ? "" : ",") << "{\"symbol\":" << JsonText(x.symbol) << ",\"digits\":" << x.digits
            << ",\"timeframe\":" << tf << ",\"candles\":";
        WriteCandles(out, files, static_cast<uint32_t>(c), x.digits);
        out << '}';
    }
    out << "],\"trades\":";
    WriteTrades(out, run, files);
    out << ",\"equity\":";
    WriteEquity(out, run, files);
    out << ",\"monthly\":" << MonthlyJson(r.figures.monthly).dump();
    out << ",\"histogram\":" << HistogramJson(r.figures.histogram).dump();
    out << '}';
}

void WriteReportHtml(std::ostream& out, const TestRun& run, const PageFiles& files)
{
    WriteReportPage(out, [&](std::ostream& data) { WritePageData(data, run, files); });
}

}  // namespace torvik::tester
