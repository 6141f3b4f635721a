// Bars from the bundled history files in data/: a header line
// `time,open,high,low,close,volume`, then one bar per line, oldest first.
#pragma once

#include <charconv>
#include <fstream>
#include <string>
#include <string_view>

#include "support/fixtures.h"

namespace torvik::testing {

// The path of a bundled history file, found from this header's place in the
// tree (tests/support/), so that tests and benchmarks run from any folder.
inline std::string BundledDataPath(const char* name)
{
    const std::string here = __FILE__;
    const std::string::size_type cut = here.rfind("tests/support/");
    return (cut == std::string::npos ? std::string() : here.substr(0, cut)) + "data/" + name;
}

// The bars of one file, oldest first; empty when the file is missing or a
// line does not parse. The time stamp is not kept: the engine never reads it.
inline Bars ReadBarFile(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line.rfind("time,", 0) != 0) return {};
    Bars bars;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::string_view rest(line);
        const std::string_view::size_type comma = rest.find(',');
        if (comma == std::string_view::npos) return {};
        rest.remove_prefix(comma + 1);
        double field[5] = {};  // open, high, low, close, volume
        for (int f = 0; f < 5; ++f) {
            const char* end = rest.data() + rest.size();
            const std::from_chars_result r = std::from_chars(rest.data(), end, field[f]);
            if (r.ec != std::errc{} || (f < 4 && (r.ptr == end || *r.ptr != ','))) return {};
            rest.remove_prefix(static_cast<std::string_view::size_type>(r.ptr - rest.data()) + (f < 4 ? 1 : 0));
        }
        bars.push_back(Bar(field[0], field[1], field[2], field[3], field[4]));
    }
    return bars;
}

}  // namespace torvik::testing
