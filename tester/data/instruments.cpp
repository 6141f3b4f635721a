#include "tester/data/instruments.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>

#include <fmt/format.h>

namespace torvik::tester {

extern const std::string_view BundledInstrumentText;

namespace {

constexpr const char* const WeekdayNames[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitCommas(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        fields.push_back(Trim(line.substr(start, comma == std::string_view::npos ? line.npos : comma - start)));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

// Reads the fields of one row by column name, with messages naming the
// place and the column.
class RowReader {
public:
    RowReader(const std::vector<std::string_view>& fields, const std::map<std::string, size_t>& columns,
              const std::string& where)
        : fields_(fields), columns_(columns), where_(where)
    {
    }

    std::string_view Text(const char* column) const
    {
        const size_t i = columns_.at(column);
        if (i >= fields_.size()) Fail(column, "is missing");
        return fields_[i];
    }

    std::string Upper(const char* column) const
    {
        std::string s(Text(column));
        for (char& c : s) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        if (s.empty()) Fail(column, "is empty");
        return s;
    }

    double Real(const char* column, double lo, double hi) const
    {
        const std::string_view t = Text(column);
        double x = 0.0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
        if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(x)) {
            Fail(column, fmt::format("\"{}\" is not a number", t));
        }
        if (x < lo || x > hi) Fail(column, fmt::format("{} is outside {} to {}", t, lo, hi));
        return x;
    }

    template <typename T>
    T Whole(const char* column, T lo, T hi) const
    {
        const std::string_view t = Text(column);
        T x{};
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
        if (ec != std::errc() || end != t.data() + t.size()) {
            Fail(column, fmt::format("\"{}\" is not a whole number", t));
        }
        if (x < lo || x > hi) Fail(column, fmt::format("{} is outside {} to {}", t, lo, hi));
        return x;
    }

    template <typename E, size_t N>
    E Choice(const char* column, const std::array<std::pair<const char*, E>, N>& choices) const
    {
        const std::string_view t = Text(column);
        for (const auto& [name, value] : choices) {
            if (SameText(t, name)) return value;
        }
        std::string names;
        for (const auto& [name, value] : choices) names += (names.empty() ? "" : ", ") + std::string(name);
        Fail(column, fmt::format("\"{}\" is none of {}", t, names));
    }

    [[noreturn]] void Fail(const char* column, const std::string& message) const
    {
        throw TesterError(fmt::format("{}: {} {}", where_, column, message));
    }

private:
    const std::vector<std::string_view>& fields_;
    const std::map<std::string, size_t>& columns_;
    const std::string& where_;
};

constexpr int32_t MaxPoints = 100000000;
constexpr double MaxMoney = 1e9;

InstrumentRecord ReadRow(const RowReader& r)
{
    InstrumentRecord s;
    s.symbol = std::string(r.Text("symbol"));
    if (s.symbol.empty()) r.Fail("symbol", "is empty");
    s.kind = std::string(r.Text("kind"));
    s.digits = r.Whole<int32_t>("digits", 0, 8);
    s.contractSize = r.Whole<int64_t>("contract_size", 1, std::numeric_limits<int32_t>::max());
    s.base = r.Upper("base");
    s.profit = r.Upper("profit");
    s.margin = r.Upper("margin");
    s.marginMode = r.Choice("margin_mode", std::array{std::pair{"forex", MarginMode::Forex},
                                                      std::pair{"cfd", MarginMode::Cfd}});
    s.maxLeverage = r.Whole<int32_t>("max_leverage", 0, std::numeric_limits<int32_t>::max());
    s.spread = r.Whole<int32_t>("spread", 0, MaxPoints);
    s.commission = r.Real("commission", 0.0, MaxMoney);
    s.commissionPer = r.Choice("commission_per", std::array{std::pair{"round-turn", CommissionPer::RoundTurn},
                                                            std::pair{"side", CommissionPer::Side}});
    s.swapLong = r.Real("swap_long", -MaxMoney, MaxMoney);
    s.swapShort = r.Real("swap_short", -MaxMoney, MaxMoney);
    s.swapUnit = r.Choice("swap_unit", std::array{std::pair{"points", SwapUnit::Points},
                                                  std::pair{"money", SwapUnit::Money}});
    s.tripleDay = ParseTradingDay(r.Text("triple_day"));
    if (s.tripleDay < 0) r.Fail("triple_day", fmt::format("\"{}\" is none of mon, tue, wed, thu, fri", r.Text("triple_day")));
    s.stopLevel = r.Whole<int32_t>("stop_level", 0, MaxPoints);
    s.freezeLevel = r.Whole<int32_t>("freeze_level", 0, MaxPoints);
    s.minLot = r.Real("min_lot", 0.0, MaxMoney);
    s.maxLot = r.Real("max_lot", 0.0, MaxMoney);
    s.lotStep = r.Real("lot_step", 0.0, MaxMoney);
    if (!(s.minLot > 0.0)) r.Fail("min_lot", "must be above 0");
    if (!(s.lotStep > 0.0)) r.Fail("lot_step", "must be above 0");
    if (s.maxLot < s.minLot) r.Fail("max_lot", "is below min_lot");
    return s;
}

// A broker's affix: what stands before or after the symbol in its name.
// Short, or set off by a separator, so that a name holding one symbol
// inside a longer word does not match.
constexpr size_t MaxBareAffix = 4;

bool IsSeparator(char c) { return c == '.' || c == '_' || c == '-' || c == '#' || c == '!' || c == '+' || c == '$'; }

bool AffixFits(std::string_view affix, bool before)
{
    if (affix.empty() || affix.size() <= MaxBareAffix) return true;
    return IsSeparator(before ? affix.back() : affix.front());
}

}  // namespace

const char* MarginModeName(MarginMode mode) { return mode == MarginMode::Forex ? "forex" : "cfd"; }
const char* CommissionPerName(CommissionPer per) { return per == CommissionPer::RoundTurn ? "round-turn" : "side"; }
const char* SwapUnitName(SwapUnit unit) { return unit == SwapUnit::Points ? "points" : "money"; }
const char* WeekdayName(int32_t weekday) { return weekday >= 0 && weekday < 7 ? WeekdayNames[weekday] : "?"; }

int32_t ParseTradingDay(std::string_view text)
{
    for (int32_t d = 1; d <= 5; ++d) {
        if (SameText(text, WeekdayNames[d])) return d;
    }
    return -1;
}

InstrumentTable ParseInstrumentTable(std::string_view text, const std::string& name)
{
    InstrumentTable table;
    table.name = name;
    std::map<std::string, size_t> columns;
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        const std::vector<std::string_view> fields = SplitCommas(line);
        const std::string where = fmt::format("{}:{}", name, lineNumber);
        if (columns.empty()) {
            for (size_t i = 0; i < fields.size(); ++i) columns.emplace(std::string(fields[i]), i);
            for (const char* column : InstrumentColumns) {
                if (columns.count(column) == 0) throw TesterError(fmt::format("{}: no column \"{}\"", where, column));
            }
            continue;
        }
        table.rows.push_back(ReadRow(RowReader(fields, columns, where)));
        for (size_t i = 0; i + 1 < table.rows.size(); ++i) {
            if (SameText(table.rows[i].symbol, table.rows.back().symbol)) {
                throw TesterError(fmt::format("{}: {} has a row already", where, table.rows.back().symbol));
            }
        }
    }
    if (columns.empty()) throw TesterError(fmt::format("{}: no header row", name));
    return table;
}

InstrumentTable LoadInstrumentTable(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TesterError(fmt::format("{}: cannot read the instrument table", path));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return ParseInstrumentTable(text, path);
}

const InstrumentTable& BundledInstruments()
{
    static const InstrumentTable table = ParseInstrumentTable(BundledInstrumentText, "bundled");
    return table;
}

const InstrumentRecord* MatchInstrument(const InstrumentTable& table, std::string_view symbol)
{
    for (const InstrumentRecord& s : table.rows) {
        if (SameText(s.symbol, symbol)) return &s;
    }
    const InstrumentRecord* best = nullptr;
    size_t bestAt = 0;
    for (const InstrumentRecord& s : table.rows) {
        const size_t n = s.symbol.size();
        for (size_t at = 0; n > 0 && at + n <= symbol.size(); ++at) {
            if (!SameText(symbol.substr(at, n), s.symbol)) continue;
            if (!AffixFits(symbol.substr(0, at), true) || !AffixFits(symbol.substr(at + n), false)) continue;
            if (best == nullptr || n > best->symbol.size() || (n == best->symbol.size() && at < bestAt)) {
                best = &s;
                bestAt = at;
            }
            break;
        }
    }
    return best;
}

std::string InstrumentRow(const InstrumentRecord& s)
{
    return fmt::format("{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}", s.symbol, s.kind, s.digits,
                       s.contractSize, s.base, s.profit, s.margin, MarginModeName(s.marginMode), s.maxLeverage,
                       s.spread, s.commission, CommissionPerName(s.commissionPer), s.swapLong, s.swapShort,
                       SwapUnitName(s.swapUnit), WeekdayName(s.tripleDay), s.stopLevel, s.freezeLevel, s.minLot,
                       s.maxLot, s.lotStep);
}

}  // namespace torvik::tester
