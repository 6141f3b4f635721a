// Terminal and trade-server error codes to texts.
#pragma once

#include <cstdint>

namespace torvik {

inline constexpr int32_t TradeCodeLast = 148;
inline constexpr int32_t RuntimeCodeFirst = 4000;
inline constexpr int32_t RuntimeCodeLast = 4207;
inline constexpr int CatalogueCodeCount = 92;

// Static NUL-terminated texts; every code has one (the default for codes the
// catalogue lacks). English is ASCII, Russian is code page 1251.
const char* EnglishErrorDescription(int32_t code);
const char* RussianErrorDescription(int32_t code);

// Every code of the catalogue, ascending; for tools and tests.
extern const int32_t CatalogueCodes[CatalogueCodeCount];

}  // namespace torvik
