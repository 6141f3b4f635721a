// The libFuzzer entry point: every input is one sequence of export calls.
#include <cstddef>
#include <cstdint>

#include "fuzz/export_sequence.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    torvik::fuzz::RunExportSequence(data, size);
    return 0;
}
