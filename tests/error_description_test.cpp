#include "messages/error_description.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

namespace torvik {
namespace {

using Lookup = const char* (*)(int32_t);

struct Language {
    const char* name;
    Lookup describe;
    const char* fallback;
};

const char* const RussianFallback = "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0";
const Language Languages[] = {
    {"English", EnglishErrorDescription, "Unknown error"},
    {"Russian", RussianErrorDescription, RussianFallback},
};

// The codes the terminal documents, range by range.
std::set<int32_t> DocumentedCodes()
{
    std::set<int32_t> codes;
    const int32_t ranges[][2] = {{0, 9},      {64, 65},     {128, 141},   {145, 148},
                                 {4000, 4022}, {4050, 4067}, {4099, 4111}, {4200, 4207}};
    for (const auto& r : ranges)
        for (int32_t c = r[0]; c <= r[1]; ++c) codes.insert(c);
    return codes;
}

TEST(ErrorCatalogue, ListsExactlyTheDocumentedCodesAscending)
{
    const std::set<int32_t> documented = DocumentedCodes();
    ASSERT_EQ(documented.size(), 92u);
    ASSERT_EQ(CatalogueCodeCount, 92);
    const std::set<int32_t> listed(CatalogueCodes, CatalogueCodes + CatalogueCodeCount);
    EXPECT_EQ(listed, documented);
    for (int i = 1; i < CatalogueCodeCount; ++i) EXPECT_LT(CatalogueCodes[i - 1], CatalogueCodes[i]);
}

TEST(ErrorCatalogue, DefaultTextExactlyForCodesOutsideTheCatalogue)
{
    const std::set<int32_t> documented = DocumentedCodes();
    for (const Language& lang : Languages) {
        for (int32_t code = -200; code <= 4400; ++code) {
            const char* text = lang.describe(code);
            ASSERT_NE(text, nullptr) << lang.name << " " << code;
            if (documented.count(code) != 0) {
                EXPECT_STRNE(text, lang.fallback) << lang.name << " " << code;
            } else {
                EXPECT_STREQ(text, lang.fallback) << lang.name << " " << code;
            }
        }
        for (const int32_t code : {INT32_MIN, INT32_MIN + 1, -4000, -1, 149, 3999, 4208, 65536 + 2, INT32_MAX})
            EXPECT_STREQ(lang.describe(code), lang.fallback) << lang.name << " " << code;
    }
}

// Only the rows that share a text in the catalogue may share one: a row shifted
// by one would show up here.
TEST(ErrorCatalogue, TextsAreDistinctExceptTheSharedOnes)
{
    for (const Language& lang : Languages) {
        std::set<std::string> seen;
        int shared = 0;
        for (const int32_t code : CatalogueCodes)
            if (!seen.insert(lang.describe(code)).second) ++shared;
        // 0 and 1 in both languages; 129 and 4107 ("Invalid price.") in English.
        EXPECT_EQ(shared, lang.describe == EnglishErrorDescription ? 2 : 1) << lang.name;
        EXPECT_STREQ(lang.describe(0), lang.describe(1)) << lang.name;
        EXPECT_EQ(lang.describe(4000), lang.describe(4000)) << "static text, same pointer";
    }
}

TEST(ErrorCatalogue, EnglishIsPrintableAsciiEndingInAFullStop)
{
    for (const int32_t code : CatalogueCodes) {
        const char* text = EnglishErrorDescription(code);
        const std::size_t n = std::strlen(text);
        ASSERT_GT(n, 1u) << code;
        for (std::size_t i = 0; i < n; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << code << " byte " << i;
        }
        EXPECT_EQ(text[n - 1], '.') << code;
    }
    EXPECT_STREQ(EnglishErrorDescription(0), "No error returned, but the result is unknown.");
    EXPECT_STREQ(EnglishErrorDescription(2), "Common error.");
    EXPECT_STREQ(EnglishErrorDescription(148),
                 "The amount of open and pending orders has reached the limit set by the broker.");
    EXPECT_STREQ(EnglishErrorDescription(4109),
                 "Trade is not allowed. Enable checkbox (Allow live trading) in the expert properties.");
    EXPECT_STREQ(EnglishErrorDescription(4207), "Some error in object function.");
}

// Code page 1251: one byte a letter, Cyrillic in 0xC0..0xFF (Ё and ё at 0xA8
// and 0xB8), no UTF-8 and no byte-order mark.
TEST(ErrorCatalogue, RussianIsCodePage1251)
{
    for (const int32_t code : CatalogueCodes) {
        const char* text = RussianErrorDescription(code);
        const std::size_t n = std::strlen(text);
        ASSERT_GT(n, 1u) << code;
        int cyrillic = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            const bool letter = byte >= 0xC0 || byte == 0xA8 || byte == 0xB8;
            EXPECT_TRUE((byte >= 0x20 && byte < 0x7F) || letter) << code << " byte " << i;
            if (letter) ++cyrillic;
        }
        EXPECT_GT(cyrillic, 0) << code;
        // No full stop at the end; 148 alone ends with one blank.
        EXPECT_NE(text[n - 1], '.') << code;
        EXPECT_EQ(text[n - 1] == ' ', code == 148) << code;
    }
    EXPECT_NE(RussianErrorDescription(148)[std::strlen(RussianErrorDescription(148)) - 2], ' ');

    struct Case {
        int32_t code;
        const char* bytes;
    };
    const Case cases[] = {
        {2, "\xCE\xE1\xF9\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0"},               // Общая ошибка
        {4000, "\xCD\xE5\xF2 \xEE\xF8\xE8\xE1\xEA\xE8"},                    // Нет ошибки
        {138, "\xCD\xEE\xE2\xFB\xE5 \xF6\xE5\xED\xFB - \xD0\xE5\xEA\xE2\xEE\xF2"},  // Новые цены - Реквот
        {-1, RussianFallback},                                              // Неизвестная ошибка
    };
    for (const Case& c : cases) EXPECT_STREQ(RussianErrorDescription(c.code), c.bytes) << c.code;
    EXPECT_EQ(std::strlen(RussianErrorDescription(2)), 12u);
    EXPECT_EQ(std::strlen(RussianErrorDescription(148)), 58u);
}

// Every byte of both catalogues as the host receives them, in code order and
// each text with its NUL: a 64-bit FNV-1a and the length, computed outside
// this code base from the catalogue table with a standard 1251 encoder.
TEST(ErrorCatalogue, EveryByteOfBothCatalogues)
{
    struct Case {
        Lookup describe;
        uint64_t hash;
        std::size_t length;
    };
    const Case cases[] = {
        {EnglishErrorDescription, 0x1ae46bd6c445d4b6u, 2496},
        {RussianErrorDescription, 0xa228a958431fe600u, 2727},
    };
    for (const Case& c : cases) {
        uint64_t hash = 0xcbf29ce484222325u;
        std::size_t length = 0;
        for (const int32_t code : CatalogueCodes) {
            const char* text = c.describe(code);
            const std::size_t n = std::strlen(text) + 1;
            for (std::size_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(text[i])) * 0x100000001b3u;
            length += n;
        }
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(hash, c.hash);
    }
}

}  // namespace
}  // namespace torvik
