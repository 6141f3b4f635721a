// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file of every directory named there, goes through the same
// harness as in the fuzzer, in name order. A broken invariant aborts; a
// sanitizer report aborts too when the build has sanitizers.
#include <cstddef>
#include <cstdint>

#include "fuzz/export_sequence.h"
#include "fuzz/replay_inputs.h"

int main(int argc, char** argv)
{
    const int status = torvik::fuzz::ReplayAll(
        argc, argv, [](const uint8_t* data, size_t size) { torvik::fuzz::RunExportSequence(data, size); }, true);
    if (status == 0) torvik::fuzz::PrintSlowestCalls();
    return status;
}
