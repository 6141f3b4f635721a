// The inputs a replay program runs: every file named on the command line,
// and every file of every directory named there, in name order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace torvik::fuzz {

inline bool ReadInput(const std::filesystem::path& path, std::vector<uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// False (after a message) when an argument names nothing or nothing is found.
inline bool CollectInputs(int argc, char** argv, std::vector<std::filesystem::path>& inputs)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, error)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else if (std::filesystem::is_regular_file(arg, error)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "%s: no such file or directory\n", argv[i]);
            return false;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return false;
    }
    std::sort(inputs.begin(), inputs.end());
    return true;
}

// Runs every input through run(bytes, size), naming each on stderr when
// announce is set; answers the exit status (2: an input could not be read).
template <typename Run>
int ReplayAll(int argc, char** argv, Run run, bool announce)
{
    std::vector<std::filesystem::path> inputs;
    if (!CollectInputs(argc, argv, inputs)) return 2;
    std::vector<uint8_t> bytes;
    for (const auto& path : inputs) {
        if (!ReadInput(path, bytes)) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 2;
        }
        if (announce) std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        run(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs without a broken invariant\n", inputs.size());
    return 0;
}

}  // namespace torvik::fuzz
