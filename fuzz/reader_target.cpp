// The libFuzzer entry point of one reader; TORVIK_READER_FORMAT names it.
#include <cstddef>
#include <cstdint>

#include "fuzz/reader_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    torvik::fuzz::ReadRows(static_cast<torvik::fuzz::ReaderFormat>(TORVIK_READER_FORMAT), data, size);
    return 0;
}
