// Reading bars and ticks. Four formats, recognised from the first line:
//  - History Center: YYYY.MM.DD,HH:MM[:SS],open,high,low,close,volume, no header;
//  - header CSV: time,open,high,low,close,volume, then YYYY.MM.DD HH:MM[:SS] rows;
//  - the terminal's bar export: tab-separated <DATE> <TIME> <OPEN> <HIGH> <LOW>
//    <CLOSE> <TICKVOL> <VOL> <SPREAD>, the spread being the bar's minimum in points;
//  - the terminal's tick export: tab-separated <DATE> <TIME> <BID> <ASK> <LAST>
//    <VOLUME> <FLAGS>, times with milliseconds, an empty side unchanged.
// Files are read as a stream: only a buffer of text is in memory, never the
// file. LoadedData holds a file parsed once, for runs that share it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tester/data/error.h"

namespace torvik::tester {

enum class FileFormat { HistoryCenter, Header, BarExport, TickExport };

// "history-center", "header", "bar-export", "tick-export"
const char* FormatName(FileFormat format);

// One row of a file: a bar, or a tick as a bar of one price.
struct Row {
    int64_t timeMs = 0;  // open time of a bar, time of a tick
    double open = 0.0;   // bids; a tick has its bid in all four
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    double volume = 0.0;  // a tick counts 1
    double ask = 0.0;     // a tick's ask (carried forward when its field is empty); 0 for bars
    int32_t spread = -1;  // the bar export's spread in points; -1 when the file has none
};

// What a pass over the whole file found.
struct FileInfo {
    std::string name;  // as given; prefixes every message
    FileFormat format = FileFormat::HistoryCenter;
    int32_t digits = 0;             // the most decimals any price is printed with
    uint32_t timeframeSeconds = 0;  // the smallest step between two bars; 0 for ticks and single bars
    uint64_t rows = 0;
    int64_t firstTimeMs = 0;
    int64_t lastTimeMs = 0;
    uint64_t bytes = 0;
    bool IsTicks() const { return format == FileFormat::TickExport; }
};

inline constexpr int32_t MaxDigits = 8;
// A longer line is not a row of any format.
inline constexpr size_t MaxLineLength = 4096;

// Lines of a file, read through a fixed buffer, or of a text in memory.
class LineReader {
public:
    explicit LineReader(const std::string& path);  // TesterError when it cannot be opened
    LineReader(std::string_view text, std::string_view name);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its line break (and without a trailing \r);
    // false at the end. The view lives until the next call.
    bool Next(std::string_view& line);
    size_t LineNumber() const { return lineNumber_; }
    uint64_t BytesConsumed() const { return consumed_; }
    const std::string& Name() const { return name_; }

private:
    bool Refill();

    std::string name_;
    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::string_view text_;  // what is unread of the buffer (or of the text)
    bool eof_ = false;
    size_t lineNumber_ = 0;
    uint64_t consumed_ = 0;
};

// Turns lines into rows, checking each row and the order of times.
class RowParser {
public:
    explicit RowParser(std::string_view name) : name_(name) {}
    // False for a blank line or the header; a malformed line throws
    // TesterError "name:line: what is wrong".
    bool Parse(std::string_view line, size_t lineNumber, Row& row);
    FileFormat Format() const { return format_; }
    int32_t Digits() const { return digits_; }
    uint32_t MinStepSeconds() const { return minStep_; }

private:
    bool ParseCommaRow(std::string_view line, size_t lineNumber, Row& row);
    void ParseBarExportRow(std::string_view line, size_t lineNumber, Row& row);
    void ParseTickRow(std::string_view line, size_t lineNumber, Row& row);
    void Order(int64_t timeMs, size_t lineNumber, bool strictly);

    std::string name_;
    FileFormat format_ = FileFormat::HistoryCenter;
    bool started_ = false;
    size_t fieldCount_ = 0;  // of the first comma row; every row has as many
    int32_t digits_ = 0;
    uint32_t minStep_ = 0;
    bool anyRow_ = false;
    int64_t lastTimeMs_ = 0;
    double bid_ = 0.0;  // the tick export's carried sides
    double ask_ = 0.0;
};

// Where a run reads its rows from.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual bool Next(Row& row) = 0;
    // How far the source has got, 0 to 1, for progress.
    virtual double Progress() const = 0;
};

// A file read as the run goes.
class FileRows : public RowSource {
public:
    explicit FileRows(const std::string& path, uint64_t fileBytes = 0);
    bool Next(Row& row) override;
    double Progress() const override;

private:
    LineReader lines_;
    RowParser parser_;
    uint64_t bytes_;
};

// Reads a whole file once: checks every row and answers what the run needs
// to know before it starts (format, digits, timeframe, extent).
FileInfo ScanFile(const std::string& path);
FileInfo ScanText(std::string_view text, std::string_view name);

// A file parsed into memory, shared read-only by runs over the same data.
struct LoadedData {
    FileInfo info;
    std::vector<Row> rows;
};
LoadedData LoadFile(const std::string& path);
LoadedData LoadText(std::string_view text, std::string_view name);

class LoadedRows : public RowSource {
public:
    explicit LoadedRows(const LoadedData& data) : data_(data) {}
    bool Next(Row& row) override;
    double Progress() const override;

private:
    const LoadedData& data_;
    size_t next_ = 0;
};

// The symbol a file name suggests: its leading letters ("EURUSD_H1.csv" and
// "EURUSD60.csv" give "EURUSD"); empty when there are fewer than three.
std::string SymbolFromFileName(const std::string& path);

}  // namespace torvik::tester
