#include "messages/error_description.h"

namespace torvik {

const int32_t CatalogueCodes[CatalogueCodeCount] = {
#define X(code, russian, english) code,
#include "messages/error_texts.inc"
#undef X
};

}  // namespace torvik
