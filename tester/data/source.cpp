#include "tester/data/source.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include "tester/data/bar_time.h"

namespace torvik::tester {

namespace {

constexpr size_t ReadChunk = 1 << 20;
constexpr int64_t MillisecondsPerSecond = 1000;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The header with blanks removed and letters in upper case.
std::string Compact(std::string_view s)
{
    std::string out;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

class LineError {
public:
    LineError(std::string_view source, size_t line) : source_(source), line_(line) {}
    template <typename... Args>
    [[noreturn]] void Fail(fmt::format_string<Args...> f, Args&&... args) const
    {
        throw TesterError(fmt::format("{}:{}: {}", source_, line_, fmt::format(f, std::forward<Args>(args)...)));
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

// "HH:MM", "HH:MM:SS", and with milliseconds allowed "HH:MM:SS.mmm".
bool ParseClock(std::string_view s, CivilTime& t, int32_t* milliseconds = nullptr)
{
    if (milliseconds != nullptr) {
        *milliseconds = 0;
        if (s.size() == 12) {
            if (s[8] != '.' || !ParseFixedInt(s.substr(9, 3), 3, *milliseconds)) return false;
            s = s.substr(0, 8);
        }
    }
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

// Splits at `separator` into at most `fields.size()` pieces; answers the
// count found (one more than the array holds when there are too many).
template <size_t N>
size_t SplitFields(std::string_view line, char separator, std::array<std::string_view, N>& fields)
{
    size_t n = 0;
    size_t start = 0;
    while (true) {
        const size_t at = line.find(separator, start);
        const std::string_view piece = line.substr(start, at == std::string_view::npos ? line.npos : at - start);
        if (n < fields.size()) fields[n] = Trim(piece);
        ++n;
        if (at == std::string_view::npos || n > fields.size()) break;
        start = at + 1;
    }
    return n;
}

const char* const PriceNames[4] = {"open", "high", "low", "close"};

int64_t TimeMs(const std::optional<uint32_t>& seconds, int32_t milliseconds)
{
    return static_cast<int64_t>(*seconds) * MillisecondsPerSecond + milliseconds;
}

}  // namespace

const char* FormatName(FileFormat format)
{
    switch (format) {
    case FileFormat::HistoryCenter: return "history-center";
    case FileFormat::Header: return "header";
    case FileFormat::BarExport: return "bar-export";
    case FileFormat::TickExport: return "tick-export";
    }
    return "?";
}

// ---- lines

LineReader::LineReader(const std::string& path) : name_(path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw TesterError(fmt::format("{}: no such file", path));
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw TesterError(fmt::format("{}: cannot open the file", path));
    buffer_.resize(ReadChunk + MaxLineLength);
}

LineReader::LineReader(std::string_view text, std::string_view name) : name_(name), text_(text), eof_(true) {}

LineReader::~LineReader()
{
    if (file_ != nullptr) std::fclose(file_);
}

bool LineReader::Refill()
{
    if (eof_) return false;
    // The unread tail moves to the front, then the buffer fills up behind it.
    const size_t kept = text_.size();
    if (kept > 0) std::memmove(buffer_.data(), text_.data(), kept);
    const size_t got = std::fread(buffer_.data() + kept, 1, buffer_.size() - kept, file_);
    if (got < buffer_.size() - kept) {
        if (std::ferror(file_) != 0) throw TesterError(fmt::format("{}: cannot read the file", name_));
        eof_ = true;
    }
    text_ = std::string_view(buffer_.data(), kept + got);
    return got > 0;
}

bool LineReader::Next(std::string_view& line)
{
    while (true) {
        const size_t nl = text_.find('\n');
        if (nl != std::string_view::npos || eof_) {
            if (text_.empty()) return false;
            const size_t length = nl == std::string_view::npos ? text_.size() : nl;
            line = text_.substr(0, length);
            const size_t taken = nl == std::string_view::npos ? length : length + 1;
            text_.remove_prefix(taken);
            consumed_ += taken;
            ++lineNumber_;
            if (lineNumber_ == 1 && line.size() >= 3 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.size() > MaxLineLength) {
                throw TesterError(fmt::format("{}:{}: a line of more than {} characters", name_, lineNumber_,
                                              MaxLineLength));
            }
            return true;
        }
        if (text_.size() > MaxLineLength) {
            throw TesterError(
                fmt::format("{}:{}: a line of more than {} characters", name_, lineNumber_ + 1, MaxLineLength));
        }
        Refill();
    }
}

// ---- rows

void RowParser::Order(int64_t timeMs, size_t lineNumber, bool strictly)
{
    if (anyRow_) {
        const bool bad = strictly ? timeMs <= lastTimeMs_ : timeMs < lastTimeMs_;
        if (bad) {
            const bool ticks = format_ == FileFormat::TickExport;
            LineError(name_, lineNumber)
                .Fail("time {} {} the previous {}'s {}", FormatTickTime(timeMs, ticks),
                      strictly ? "does not come after" : "comes before", ticks ? "tick" : "bar",
                      FormatTickTime(lastTimeMs_, ticks));
        }
        const int64_t step = (timeMs - lastTimeMs_) / MillisecondsPerSecond;
        if (strictly && step > 0) {
            const uint32_t s = static_cast<uint32_t>(std::min<int64_t>(step, UINT32_MAX));
            minStep_ = minStep_ == 0 ? s : std::min(minStep_, s);
        }
    }
    anyRow_ = true;
    lastTimeMs_ = timeMs;
}

bool RowParser::Parse(std::string_view rawLine, size_t lineNumber, Row& row)
{
    const std::string_view line = Trim(rawLine);
    if (line.empty()) return false;
    if (!started_) {
        started_ = true;
        const LineError err(name_, lineNumber);
        if (line.front() == '<') {
            const std::string header = Compact(line);
            if (header == "<DATE><TIME><OPEN><HIGH><LOW><CLOSE><TICKVOL><VOL><SPREAD>") {
                format_ = FileFormat::BarExport;
            } else if (header == "<DATE><TIME><BID><ASK><LAST><VOLUME><FLAGS>") {
                format_ = FileFormat::TickExport;
            } else {
                err.Fail("unrecognised header \"{}\" (expected <DATE> <TIME> <OPEN> <HIGH> <LOW> <CLOSE> <TICKVOL> "
                         "<VOL> <SPREAD>, or <DATE> <TIME> <BID> <ASK> <LAST> <VOLUME> <FLAGS>)",
                         line.substr(0, std::min<size_t>(line.size(), 120)));
            }
            return false;
        }
        if (!(line.front() >= '0' && line.front() <= '9')) {
            const std::string header = Compact(line);
            if (header != "TIME,OPEN,HIGH,LOW,CLOSE,VOLUME" && header != "DATE,TIME,OPEN,HIGH,LOW,CLOSE,VOLUME") {
                err.Fail("unrecognised header \"{}\" (expected time,open,high,low,close,volume)",
                         line.substr(0, std::min<size_t>(line.size(), 120)));
            }
            format_ = FileFormat::Header;
            return false;
        }
        format_ = FileFormat::HistoryCenter;
    }
    switch (format_) {
    case FileFormat::BarExport: ParseBarExportRow(line, lineNumber, row); return true;
    case FileFormat::TickExport: ParseTickRow(line, lineNumber, row); return true;
    default: return ParseCommaRow(line, lineNumber, row);
    }
}

namespace {

// open, high, low, close and the volume from five fields; checks them.
void ParseBarFields(const std::string_view* f, const LineError& err, Row& row, int32_t& digits)
{
    double price[4] = {};
    for (size_t i = 0; i < 4; ++i) {
        int32_t decimals = 0;
        if (!ParseNumber(f[i], price[i], decimals) || !(price[i] > 0.0)) {
            err.Fail("{} \"{}\" is not a positive number", PriceNames[i], f[i]);
        }
        digits = std::max(digits, decimals);
    }
    int32_t volumeDecimals = 0;
    if (!ParseNumber(f[4], row.volume, volumeDecimals) || row.volume < 0.0) {
        err.Fail("volume \"{}\" is not a number of 0 or more", f[4]);
    }
    row.open = price[0];
    row.high = price[1];
    row.low = price[2];
    row.close = price[3];
    if (row.high < std::max(row.open, row.close)) err.Fail("high {} is below the open or the close", f[1]);
    if (row.low > std::min(row.open, row.close)) err.Fail("low {} is above the open or the close", f[2]);
    row.ask = 0.0;
    row.spread = -1;
}

}  // namespace

bool RowParser::ParseCommaRow(std::string_view line, size_t lineNumber, Row& row)
{
    const LineError err(name_, lineNumber);
    std::array<std::string_view, 8> f{};
    const size_t count = SplitFields(line, ',', f);
    if (fieldCount_ != 0 && count != fieldCount_ && count <= f.size()) {
        err.Fail("{} fields where the bars above have {}", count, fieldCount_);
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
    ParseBarFields(&f[first], err, row, digits_);
    row.timeMs = TimeMs(time, 0);
    Order(row.timeMs, lineNumber, true);
    fieldCount_ = count;
    return true;
}

void RowParser::ParseBarExportRow(std::string_view line, size_t lineNumber, Row& row)
{
    const LineError err(name_, lineNumber);
    std::array<std::string_view, 9> f{};
    const size_t count = SplitFields(line, '\t', f);
    if (count != 9) {
        err.Fail("{} fields where a bar has 9 (<DATE> <TIME> <OPEN> <HIGH> <LOW> <CLOSE> <TICKVOL> <VOL> <SPREAD>)",
                 count > f.size() ? std::string("more than 9") : std::to_string(count));
    }
    CivilTime t;
    if (!ParseDate(f[0], t)) err.Fail("bad date \"{}\" (expected YYYY.MM.DD)", f[0]);
    if (!ParseClock(f[1], t)) err.Fail("bad time \"{}\" (expected HH:MM:SS)", f[1]);
    const std::optional<uint32_t> time = ToBarTime(t);
    if (!time) err.Fail("date or time out of range in \"{} {}\"", f[0], f[1]);
    const std::string_view fields[5] = {f[2], f[3], f[4], f[5], f[6]};
    ParseBarFields(fields, err, row, digits_);
    double realVolume = 0.0;
    int32_t decimals = 0;
    if (!ParseNumber(f[7], realVolume, decimals) || realVolume < 0.0) {
        err.Fail("<VOL> \"{}\" is not a number of 0 or more", f[7]);
    }
    if (!ParseInt(f[8], row.spread) || row.spread < 0) err.Fail("<SPREAD> \"{}\" is not a whole number of 0 or more", f[8]);
    row.timeMs = TimeMs(time, 0);
    Order(row.timeMs, lineNumber, true);
}

void RowParser::ParseTickRow(std::string_view line, size_t lineNumber, Row& row)
{
    const LineError err(name_, lineNumber);
    std::array<std::string_view, 7> f{};
    const size_t count = SplitFields(line, '\t', f);
    if (count < 4 || count > 7) {
        err.Fail("{} fields where a tick has 4 to 7 (<DATE> <TIME> <BID> <ASK> <LAST> <VOLUME> <FLAGS>)",
                 count > f.size() ? std::string("more than 7") : std::to_string(count));
    }
    CivilTime t;
    int32_t milliseconds = 0;
    if (!ParseDate(f[0], t)) err.Fail("bad date \"{}\" (expected YYYY.MM.DD)", f[0]);
    if (!ParseClock(f[1], t, &milliseconds)) err.Fail("bad time \"{}\" (expected HH:MM:SS.mmm)", f[1]);
    const std::optional<uint32_t> time = ToBarTime(t);
    if (!time) err.Fail("date or time out of range in \"{} {}\"", f[0], f[1]);
    const char* const sideNames[2] = {"bid", "ask"};
    double* const sides[2] = {&bid_, &ask_};
    for (size_t i = 0; i < 2; ++i) {
        const std::string_view text = f[2 + i];
        if (text.empty()) {
            if (!anyRow_) err.Fail("the first tick has no {}", sideNames[i]);
            continue;  // unchanged since the tick before
        }
        int32_t decimals = 0;
        double value = 0.0;
        if (!ParseNumber(text, value, decimals) || !(value > 0.0)) {
            err.Fail("{} \"{}\" is not a positive number", sideNames[i], text);
        }
        digits_ = std::max(digits_, decimals);
        *sides[i] = value;
    }
    if (ask_ < bid_) err.Fail("ask {} is below the bid {}", ask_, bid_);
    row.timeMs = TimeMs(time, milliseconds);
    row.open = row.high = row.low = row.close = bid_;
    row.ask = ask_;
    row.volume = 1.0;
    row.spread = -1;
    Order(row.timeMs, lineNumber, false);
}

// ---- sources

FileRows::FileRows(const std::string& path, uint64_t fileBytes) : lines_(path), parser_(path), bytes_(fileBytes) {}

bool FileRows::Next(Row& row)
{
    std::string_view line;
    while (lines_.Next(line)) {
        if (parser_.Parse(line, lines_.LineNumber(), row)) return true;
    }
    return false;
}

double FileRows::Progress() const
{
    return bytes_ == 0 ? 0.0 : static_cast<double>(lines_.BytesConsumed()) / static_cast<double>(bytes_);
}

namespace {

template <typename OnRow>
FileInfo ReadAll(LineReader& lines, OnRow onRow)
{
    FileInfo info;
    info.name = lines.Name();
    RowParser parser(info.name);
    Row row;
    std::string_view line;
    while (lines.Next(line)) {
        if (!parser.Parse(line, lines.LineNumber(), row)) continue;
        if (info.rows == 0) info.firstTimeMs = row.timeMs;
        info.lastTimeMs = row.timeMs;
        ++info.rows;
        onRow(row);
    }
    info.format = parser.Format();
    if (info.rows == 0) throw TesterError(fmt::format("{}: no {}", info.name, info.IsTicks() ? "ticks" : "bars"));
    info.digits = parser.Digits();
    if (info.digits > MaxDigits) {
        throw TesterError(
            fmt::format("{}: prices with {} decimals; at most {} are supported", info.name, info.digits, MaxDigits));
    }
    info.timeframeSeconds = info.IsTicks() ? 0 : parser.MinStepSeconds();
    info.bytes = lines.BytesConsumed();
    return info;
}

}  // namespace

FileInfo ScanFile(const std::string& path)
{
    LineReader lines(path);
    return ReadAll(lines, [](const Row&) {});
}

FileInfo ScanText(std::string_view text, std::string_view name)
{
    LineReader lines(text, name);
    return ReadAll(lines, [](const Row&) {});
}

LoadedData LoadFile(const std::string& path)
{
    LineReader lines(path);
    LoadedData data;
    data.info = ReadAll(lines, [&data](const Row& r) { data.rows.push_back(r); });
    return data;
}

LoadedData LoadText(std::string_view text, std::string_view name)
{
    LineReader lines(text, name);
    LoadedData data;
    data.info = ReadAll(lines, [&data](const Row& r) { data.rows.push_back(r); });
    return data;
}

bool LoadedRows::Next(Row& row)
{
    if (next_ >= data_.rows.size()) return false;
    row = data_.rows[next_++];
    return true;
}

double LoadedRows::Progress() const
{
    return data_.rows.empty() ? 0.0 : static_cast<double>(next_) / static_cast<double>(data_.rows.size());
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
