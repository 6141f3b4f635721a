// A constant-time table built at compile time from the sparse catalogue.
#pragma once

#include <cstdint>

#include "messages/error_description.h"

namespace torvik {

// Never defined: reaching a call during constant evaluation stops the build.
void CatalogueCodeOutsideBothRanges();

struct CatalogueEntry {
    int32_t code;
    const char* text;
};

struct DenseCatalogue {
    const char* trade[TradeCodeLast + 1];
    const char* runtime[RuntimeCodeLast - RuntimeCodeFirst + 1];
    const char* fallback;
};

template <std::size_t N>
consteval DenseCatalogue BuildDenseCatalogue(const CatalogueEntry (&entries)[N], const char* fallback)
{
    DenseCatalogue c{};
    for (auto& t : c.trade) t = fallback;
    for (auto& t : c.runtime) t = fallback;
    c.fallback = fallback;
    for (const CatalogueEntry& e : entries) {
        if (e.code >= 0 && e.code <= TradeCodeLast) c.trade[e.code] = e.text;
        else if (e.code >= RuntimeCodeFirst && e.code <= RuntimeCodeLast) c.runtime[e.code - RuntimeCodeFirst] = e.text;
        else CatalogueCodeOutsideBothRanges();
    }
    return c;
}

inline const char* LookUp(const DenseCatalogue& c, int32_t code)
{
    if (code >= 0 && code <= TradeCodeLast) return c.trade[code];
    if (code >= RuntimeCodeFirst && code <= RuntimeCodeLast) return c.runtime[code - RuntimeCodeFirst];
    return c.fallback;
}

}  // namespace torvik
