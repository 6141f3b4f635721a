// Splitting the texts the tester writes and reads: its CSV rows (it never
// puts a separator inside a field, so there is no quoting to undo) and lists
// of values.
#pragma once

#include <string_view>
#include <vector>

namespace torvik::tester {

// The parts of `text` between separators; an empty text is one empty part.
inline std::vector<std::string_view> SplitText(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

}  // namespace torvik::tester
