// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file of every directory named there, goes through the same
// harness as in the fuzzer, in name order. A broken invariant aborts; a
// sanitizer report aborts too when the build has sanitizers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "fuzz/export_sequence.h"
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
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        torvik::fuzz::RunExportSequence(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs without a broken invariant\n", inputs.size());
    torvik::fuzz::PrintSlowestCalls();
    return 0;
}
