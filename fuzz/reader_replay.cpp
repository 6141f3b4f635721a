// Replays reader inputs without libFuzzer through the same harness;
// TORVIK_READER_FORMAT names the reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/reader_harness.h"
#include "fuzz/replay_inputs.h"

int main(int argc, char** argv)
{
    return torvik::fuzz::ReplayAll(
        argc, argv,
        [](const uint8_t* data, size_t size) {
            torvik::fuzz::ReadRows(static_cast<torvik::fuzz::ReaderFormat>(TORVIK_READER_FORMAT), data, size);
        },
        false);
}
