// Replays reader inputs without libFuzzer through the same harness;
// TORVIK_READER_FORMAT names the reader.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "fuzz/reader_harness.h"
#include "fuzz/replay_inputs.h"

int main(int argc, char** argv)
{
    std::vector<std::filesystem::path> inputs;
    if (!torvik::fuzz::CollectInputs(argc, argv, inputs)) return 2;
    std::vector<uint8_t> bytes;
    for (const auto& path : inputs) {
        if (!torvik::fuzz::ReadInput(path, bytes)) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 2;
        }
        torvik::fuzz::ReadRows(static_cast<torvik::fuzz::ReaderFormat>(TORVIK_READER_FORMAT), bytes.data(),
                               bytes.size());
    }
    std::printf("replayed %zu inputs without a broken invariant\n", inputs.size());
    return 0;
}
