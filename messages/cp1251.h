// Compile-time conversion of UTF-8 literals to code page 1251 bytes, so the
// Russian catalogue stays readable in the source and ships as 1251.
#pragma once

#include <cstddef>

namespace torvik {

// Never defined: reaching a call during constant evaluation stops the build.
void OnlyOneAndTwoByteUtf8SequencesOccur();
void CharacterWithoutCodePage1251Byte();

template <std::size_t N>
struct Cp1251Text {
    char bytes[N] = {};  // NUL-padded: a text never grows in the conversion
};

// ASCII, U+0410..U+044F (А..я) and Ё/ё; any other character stops the build.
template <std::size_t N>
consteval Cp1251Text<N> ToCp1251(const char8_t (&utf8)[N])
{
    Cp1251Text<N> out{};
    std::size_t o = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        const unsigned lead = utf8[i];
        unsigned cp = 0;
        if (lead < 0x80) {
            cp = lead;
            i += 1;
        } else if ((lead & 0xE0) == 0xC0 && i + 2 < N) {
            cp = ((lead & 0x1F) << 6) | (static_cast<unsigned>(utf8[i + 1]) & 0x3F);
            i += 2;
        } else {
            OnlyOneAndTwoByteUtf8SequencesOccur();
        }
        unsigned byte = 0;
        if (cp < 0x80) byte = cp;
        else if (cp >= 0x410 && cp <= 0x44F) byte = cp - 0x410 + 0xC0;
        else if (cp == 0x401) byte = 0xA8;
        else if (cp == 0x451) byte = 0xB8;
        else CharacterWithoutCodePage1251Byte();
        out.bytes[o++] = static_cast<char>(byte);
    }
    return out;
}

}  // namespace torvik
