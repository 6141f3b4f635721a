#include "messages/cp1251.h"
#include "messages/dense_catalogue.h"

namespace torvik {

namespace {

#define X(code, russian, english) constexpr auto Russian##code = ToCp1251(russian);
#include "messages/error_texts.inc"
#undef X

constexpr auto RussianFallback = ToCp1251(u8"Неизвестная ошибка");

constexpr CatalogueEntry RussianEntries[] = {
#define X(code, russian, english) {code, Russian##code.bytes},
#include "messages/error_texts.inc"
#undef X
};

constexpr DenseCatalogue RussianCatalogue = BuildDenseCatalogue(RussianEntries, RussianFallback.bytes);

}  // namespace

const char* RussianErrorDescription(int32_t code) { return LookUp(RussianCatalogue, code); }

}  // namespace torvik
