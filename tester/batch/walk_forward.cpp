#include "tester/batch/walk_forward.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "tester/batch/split.h"
#include "tester/data/bar_time.h"
#include "tester/data/error.h"

namespace torvik::tester {

namespace {

constexpr int64_t MonthsPerYear = 12;
constexpr int64_t DaysPerWeek = 7;
// A window count no real history reaches: a guard on the loop.
constexpr size_t MaxWindows = 100000;

bool Leap(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int32_t DaysInMonth(int32_t year, int32_t month)
{
    constexpr int32_t Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && Leap(year) ? 29 : Days[month - 1];
}

// Adds `cents` to the money columns named and renumbers the ticket column
// (when named) of a CSV text; the header is kept once, from the first text.
void Append(std::string& out, const std::string& csv, const std::vector<std::string_view>& moneyColumns, int64_t cents,
            bool renumber, int64_t& ticket)
{
    size_t start = 0;
    std::vector<bool> money;
    int64_t ticketColumn = -1;
    bool header = true;
    while (start < csv.size()) {
        size_t end = csv.find('\n', start);
        if (end == std::string::npos) end = csv.size();
        const std::string_view line(csv.data() + start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        const std::vector<std::string_view> fields = SplitText(line, ',');
        if (header) {
            header = false;
            for (size_t i = 0; i < fields.size(); ++i) {
                money.push_back(std::find(moneyColumns.begin(), moneyColumns.end(), fields[i]) != moneyColumns.end());
                if (renumber && fields[i] == "ticket") ticketColumn = static_cast<int64_t>(i);
            }
            if (out.empty()) fmt::format_to(std::back_inserter(out), "{}\n", line);
            continue;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out += ',';
            const std::optional<int64_t> value = i < money.size() && money[i] ? ParseCents(fields[i]) : std::nullopt;
            if (static_cast<int64_t>(i) == ticketColumn) {
                out += std::to_string(++ticket);
            } else if (value) {
                out += FormatCents(*value + cents);
            } else {
                out += fields[i];
            }
        }
        out += '\n';
    }
}

}  // namespace

std::optional<Period> ParsePeriod(std::string_view text)
{
    int64_t count = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (ec != std::errc() || count <= 0 || count > 10000) return std::nullopt;
    const std::string_view unit = text.substr(static_cast<size_t>(end - text.data()));
    Period p;
    p.count = count;
    if (unit == "d") {
        p.unit = PeriodUnit::Day;
    } else if (unit == "w") {
        p.unit = PeriodUnit::Week;
    } else if (unit == "mo") {
        p.unit = PeriodUnit::Month;
    } else if (unit == "y") {
        p.unit = PeriodUnit::Year;
    } else {
        return std::nullopt;
    }
    return p;
}

std::string PeriodText(const Period& p)
{
    const char* unit = p.unit == PeriodUnit::Day     ? "d"
                       : p.unit == PeriodUnit::Week  ? "w"
                       : p.unit == PeriodUnit::Month ? "mo"
                                                     : "y";
    return fmt::format("{}{}", p.count, unit);
}

std::optional<uint32_t> AddPeriods(uint32_t time, const Period& p, int64_t k)
{
    if (p.unit == PeriodUnit::Day || p.unit == PeriodUnit::Week) {
        const int64_t days = p.count * k * (p.unit == PeriodUnit::Week ? DaysPerWeek : 1);
        const int64_t t = static_cast<int64_t>(time) + days * DaySeconds;
        if (t < 0 || t > std::numeric_limits<uint32_t>::max()) return std::nullopt;
        return static_cast<uint32_t>(t);
    }
    CivilTime c = FromBarTime(time);
    const int64_t months = static_cast<int64_t>(c.year) * MonthsPerYear + (c.month - 1) +
                           p.count * k * (p.unit == PeriodUnit::Year ? MonthsPerYear : 1);
    if (months < 0) return std::nullopt;
    const int64_t year = months / MonthsPerYear;
    if (year > 9999) return std::nullopt;
    c.year = static_cast<int32_t>(year);
    c.month = static_cast<int32_t>(months % MonthsPerYear) + 1;
    c.day = std::min(c.day, DaysInMonth(c.year, c.month));
    return ToBarTime(c);
}

std::vector<WalkWindow> WalkWindows(uint32_t first, uint32_t end, const Period& in, const Period& out)
{
    const uint32_t origin = first - first % DaySeconds;
    const std::optional<uint32_t> firstOut = AddPeriods(origin, in, 1);
    std::vector<WalkWindow> windows;
    for (int64_t k = 0; firstOut && windows.size() < MaxWindows; ++k) {
        const std::optional<uint32_t> outFrom = AddPeriods(*firstOut, out, k);
        if (!outFrom || *outFrom >= end) break;
        const std::optional<uint32_t> outTo = AddPeriods(*firstOut, out, k + 1);
        const std::optional<uint32_t> inFrom = AddPeriods(*outFrom, in, -1);
        if (!inFrom) break;
        windows.push_back(WalkWindow{*inFrom, *outFrom, *outFrom, outTo ? std::min(*outTo, end) : end});
    }
    if (windows.empty()) {
        throw TesterError(
            fmt::format("the test range {} to {} is not longer than the in-sample period {}: no "
                        "walk-forward window fits",
                        FormatBarTime(first), FormatBarTime(end), PeriodText(in)));
    }
    return windows;
}

std::pair<std::string, std::string> RangeTexts(uint32_t from, uint32_t to)
{
    // --to takes the last minute in: chart bars start on whole minutes.
    return {FormatBarTime(from), FormatBarTime(to - MinuteSeconds)};
}

double WalkForwardEfficiency(double outNetProfit, double outDays, double inNetProfit, double inDays)
{
    if (!(inNetProfit > 0.0) || !(outDays > 0.0) || !(inDays > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    return (outNetProfit / outDays) / (inNetProfit / inDays);
}

StitchedSeries StitchSeries(const std::vector<const RunRecord*>& runs)
{
    static const std::vector<std::string_view> TradeMoney = {"balance"};
    static const std::vector<std::string_view> EquityMoney = {"balance", "equity", "equity_low", "equity_high",
                                                              "free_margin"};
    StitchedSeries s;
    int64_t offset = 0;
    int64_t ticket = 0;
    int64_t unused = 0;
    for (const RunRecord* r : runs) {
        Append(s.trades, r->trades, TradeMoney, offset, true, ticket);
        Append(s.equity, r->equity, EquityMoney, offset, false, unused);
        const double deposit = r->Figure("initial_deposit");
        const double balance = r->Figure("final_balance");
        offset += std::llround(balance * 100.0) - std::llround(deposit * 100.0);
    }
    return s;
}

std::optional<int64_t> ParseCents(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot != 3 || dot == 0 || dot > 15) return std::nullopt;
    int64_t cents = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == dot) continue;
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        cents = cents * 10 + (text[i] - '0');
    }
    return negative ? -cents : cents;
}

std::string FormatCents(int64_t cents)
{
    const bool negative = cents < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    return fmt::format("{}{}.{:02}", negative ? "-" : "", magnitude / 100, magnitude % 100);
}

}  // namespace torvik::tester
