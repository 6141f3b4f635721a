// Reading bar history: the History Center export of the terminal
// (YYYY.MM.DD,HH:MM,open,high,low,close,volume, no header) and the same bars
// with a time,open,high,low,close,volume header and "YYYY.MM.DD HH:MM" times.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "market/bar_record.h"

namespace torvik::tester {

// A problem the user has to fix: bad input, a bad option, an unwritable
// report folder. The message is complete and names the place.
class TesterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class BarFormat { HistoryCenter, Header };

struct BarData {
    std::vector<BarRecord> bars;  // oldest first, times strictly increasing
    BarFormat format = BarFormat::HistoryCenter;
    int32_t digits = 0;             // the most decimals any price is printed with
    uint32_t timeframeSeconds = 0;  // the smallest step between two bars (0 for one bar)
};

// Parses the text of a bar file. sourceName prefixes every error message,
// which also names the line ("EURUSD_H1.csv:17: ...").
BarData ParseBars(std::string_view text, std::string_view sourceName);

// Reads and parses a file; a missing or unreadable file is a TesterError.
BarData ReadBarFile(const std::string& path);

// The symbol a file name suggests: its leading letters ("EURUSD_H1.csv" and
// "EURUSD60.csv" give "EURUSD"); empty when there are fewer than three.
std::string SymbolFromFileName(const std::string& path);

}  // namespace torvik::tester
