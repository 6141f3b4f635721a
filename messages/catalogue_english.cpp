#include "messages/dense_catalogue.h"

namespace torvik {

namespace {

constexpr CatalogueEntry EnglishEntries[] = {
#define X(code, russian, english) {code, english},
#include "messages/error_texts.inc"
#undef X
};

constexpr DenseCatalogue EnglishCatalogue = BuildDenseCatalogue(EnglishEntries, "Unknown error");

}  // namespace

const char* EnglishErrorDescription(int32_t code) { return LookUp(EnglishCatalogue, code); }

}  // namespace torvik
