#include "tester/data/bar_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

constexpr int32_t MaxDigits = 8;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

class LineError {
public:
    LineError(std::string_view source, size_t line) : source_(source), line_(line) {}
    template <typename... Args>
    [[noreturn]] void Fail(fmt::format_string<Args...> f, Args&&... args) const
    {
        throw TesterError(
            fmt::format("{}:{}: {}", source_, line_, fmt::format(f, std::forward<Args>(args)...)));
    }

private:
    std::string_view source_;
    size_t line_;
};

bool ParseInt(std::string_view s, int32_t& out)
{
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

// A whole-number field of exactly `width` digits.
bool ParseFixedInt(std::string_view s, size_t width, int32_t& out)
{
    if (s.size() != width) return false;
    if (!std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    return ParseInt(s, out);
}

// "YYYY.MM.DD" (dots, dashes or slashes).
bool ParseDate(std::string_view s, CivilTime& t)
{
    if (s.size() != 10) return false;
    const char sep = s[4];
    if ((sep != '.' && sep != '-' && sep != '/') || s[7] != sep) return false;
    return ParseFixedInt(s.substr(0, 4), 4, t.year) && ParseFixedInt(s.substr(5, 2), 2, t.month) &&
           ParseFixedInt(s.substr(8, 2), 2, t.day);
}

// "HH:MM" or "HH:MM:SS".
bool ParseClock(std::string_view s, CivilTime& t)
{
    if (s.size() != 5 && s.size() != 8) return false;
    if (s[2] != ':') return false;
    t.second = 0;
    if (s.size() == 8 && (s[5] != ':' || !ParseFixedInt(s.substr(6, 2), 2, t.second))) return false;
    return ParseFixedInt(s.substr(0, 2), 2, t.hour) && ParseFixedInt(s.substr(3, 2), 2, t.minute);
}

// A price or volume; also counts the decimals as printed.
bool ParseNumber(std::string_view s, double& out, int32_t& decimals)
{
    if (s.empty()) return false;
    if (s.front() == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::fixed);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(out)) return false;
    const size_t dot = s.find('.');
    decimals = dot == std::string_view::npos ? 0 : static_cast<int32_t>(std::min<size_t>(s.size() - dot - 1, 64));
    return true;
}

// Splits at commas into at most `fields.size()` pieces; answers the count
// found (one more than the array holds when there are too many).
size_t SplitFields(std::string_view line, std::array<std::string_view, 8>& fields)
{
    size_t n = 0;
    size_t start = 0;
    while (true) {
        const size_t comma = line.find(',', start);
        const std::string_view piece = line.substr(start, comma == std::string_view::npos ? line.npos : comma - start);
        if (n < fields.size()) fields[n] = Trim(piece);
        ++n;
        if (comma == std::string_view::npos || n > fields.size()) break;
        start = comma + 1;
    }
    return n;
}

const char* const PriceNames[4] = {"open", "high", "low", "close"};

}  // namespace

BarData ParseBars(std::string_view text, std::string_view sourceName)
{
    BarData data;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    data.bars.reserve(text.size() / 48 + 1);

    bool firstLine = true;
    size_t lineNumber = 0;
    size_t pos = 0;
    uint32_t minStep = 0;
    size_t fieldCount = 0;  // of the first bar; every bar has as many
    std::array<std::string_view, 8> f{};
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        const std::string_view line = Trim(text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos));
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNumber;
        if (line.empty()) continue;
        const LineError err(sourceName, lineNumber);

        if (firstLine) {
            firstLine = false;
            if (!(line.front() >= '0' && line.front() <= '9')) {
                const std::string header = Lower(line);
                std::string compact;
                for (char c : header) {
                    if (c != ' ' && c != '\t') compact += c;
                }
                if (compact != "time,open,high,low,close,volume" &&
                    compact != "date,time,open,high,low,close,volume") {
                    err.Fail("unrecognised header \"{}\" (expected time,open,high,low,close,volume)", line);
                }
                data.format = BarFormat::Header;
                continue;
            }
        }

        const size_t count = SplitFields(line, f);
        if (fieldCount != 0 && count != fieldCount && count <= f.size()) {
            err.Fail("{} fields where the bars above have {}", count, fieldCount);
        }
        CivilTime t;
        size_t first = 0;
        if (count == 7) {
            if (!ParseDate(f[0], t)) err.Fail("bad date \"{}\" (expected YYYY.MM.DD)", f[0]);
            if (!ParseClock(f[1], t)) err.Fail("bad time \"{}\" (expected HH:MM)", f[1]);
            first = 2;
        } else if (count == 6) {
            const size_t space = f[0].find(' ');
            if (space == std::string_view::npos || !ParseDate(f[0].substr(0, space), t) ||
                !ParseClock(Trim(f[0].substr(space + 1)), t)) {
                err.Fail("bad time \"{}\" (expected YYYY.MM.DD HH:MM)", f[0]);
            }
            first = 1;
        } else {
            err.Fail("{} fields where a bar has 6 (time,open,high,low,close,volume) or 7 "
                     "(date,time,open,high,low,close,volume)",
                     count > f.size() ? std::string("more than 8") : std::to_string(count));
        }
        const std::optional<uint32_t> time = ToBarTime(t);
        if (!time) err.Fail("date or time out of range in \"{}\"", line.substr(0, std::min<size_t>(line.size(), 19)));

        double price[4] = {};
        for (size_t i = 0; i < 4; ++i) {
            int32_t decimals = 0;
            if (!ParseNumber(f[first + i], price[i], decimals) || !(price[i] > 0.0)) {
                err.Fail("{} \"{}\" is not a positive number", PriceNames[i], f[first + i]);
            }
            data.digits = std::max(data.digits, decimals);
        }
        double volume = 0.0;
        int32_t volumeDecimals = 0;
        if (!ParseNumber(f[first + 4], volume, volumeDecimals) || volume < 0.0) {
            err.Fail("volume \"{}\" is not a number of 0 or more", f[first + 4]);
        }
        const double open = price[0], high = price[1], low = price[2], close = price[3];
        if (high < std::max(open, close)) err.Fail("high {} is below the open or the close", f[first + 1]);
        if (low > std::min(open, close)) err.Fail("low {} is above the open or the close", f[first + 2]);

        if (!data.bars.empty()) {
            const uint32_t previous = data.bars.back().time;
            if (*time <= previous) {
                err.Fail("time {} does not come after the previous bar's {}", FormatBarTime(*time),
                         FormatBarTime(previous));
            }
            const uint32_t step = *time - previous;
            minStep = minStep == 0 ? step : std::min(minStep, step);
        }
        data.bars.push_back(BarRecord{*time, open, low, high, close, volume});
        fieldCount = count;
    }
    if (data.bars.empty()) throw TesterError(fmt::format("{}: no bars", sourceName));
    if (data.digits > MaxDigits) {
        throw TesterError(fmt::format("{}: prices with {} decimals; at most {} are supported", sourceName,
                                      data.digits, MaxDigits));
    }
    data.timeframeSeconds = minStep;
    return data;
}

BarData ReadBarFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw TesterError(fmt::format("{}: no such bar file", path));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TesterError(fmt::format("{}: cannot open the bar file", path));
    const uintmax_t size = std::filesystem::file_size(path, ec);
    std::string text(ec ? 0 : static_cast<size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (ec || in.gcount() != static_cast<std::streamsize>(text.size())) {
        throw TesterError(fmt::format("{}: cannot read the bar file", path));
    }
    return ParseBars(text, path);
}

std::string SymbolFromFileName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t n = 0;
    while (n < name.size() && ((name[n] >= 'A' && name[n] <= 'Z') || (name[n] >= 'a' && name[n] <= 'z'))) ++n;
    return n >= 3 ? name.substr(0, n) : std::string();
}

}  // namespace torvik::tester
