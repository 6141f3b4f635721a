// Memory does not grow with the length of the data: the tester's peak
// resident memory over a file four times longer is that over the short
// one, within a small slack. Measured on the tester as a process of its
// own (the kernel's peak for the child), so nothing here is timed.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/data/bar_time.h"
#include "tester/data/source.h"

namespace torvik::tester {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

// The bundled M15 file `copies` times over, each copy 104 weeks after the
// one before (whole weeks keep the weekdays), as a History Center export.
void Synthesize(const std::filesystem::path& path, int copies)
{
    const LoadedData data = LoadFile(testing::BundledFile("EURUSD_M15.csv"));
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    constexpr int64_t ShiftMs = int64_t{104} * 7 * 86400 * 1000;
    for (int c = 0; c < copies; ++c) {
        for (const Row& r : data.rows) {
            const CivilTime t = FromBarTime(static_cast<uint32_t>((r.timeMs + c * ShiftMs) / 1000));
            std::fprintf(out, "%04d.%02d.%02d,%02d:%02d,%.5f,%.5f,%.5f,%.5f,%.0f\r\n", t.year, t.month, t.day, t.hour,
                         t.minute, r.open, r.high, r.low, r.close, r.volume);
        }
    }
    std::fclose(out);
}

// Runs the tester and answers its peak resident memory in KiB.
long PeakKib(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    return usage.ru_maxrss;
}

TEST(Memory, PeakDoesNotGrowWithTheLengthOfTheData)
{
    if (Sanitized) GTEST_SKIP() << "the sanitizer's quarantine keeps freed memory";
    const std::filesystem::path dir = testing::ScratchFolder();
    Synthesize(dir / "EURUSD_short.csv", 1);
    Synthesize(dir / "EURUSD_long.csv", 4);
    long peak[2] = {};
    const char* const names[2] = {"EURUSD_short.csv", "EURUSD_long.csv"};
    for (int i = 0; i < 2; ++i) {
        peak[i] = PeakKib({TORVIK_TESTER_PATH, "--bars", (dir / names[i]).string(), "--timeframe", "H1",
                           "--equity", "ticks", "--quiet", "--report", (dir / ("report" + std::to_string(i))).string()});
    }
    // A slack of 5 % and 1 MiB for the allocator's rounding.
    EXPECT_LE(peak[1], peak[0] + peak[0] / 20 + 1024) << "short " << peak[0] << " KiB, long " << peak[1] << " KiB";
}

}  // namespace
}  // namespace torvik::tester
