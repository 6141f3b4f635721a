// Where the bundled history is, and scratch folders for files a test writes.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace torvik::tester::testing {

inline std::string BundledFile(const std::string& name) { return std::string(TORVIK_SOURCE_DIR) + "/data/" + name; }

// A fresh, empty folder named after the running test, in a folder of this
// process's own (other builds on the machine run the same tests).
inline std::filesystem::path ScratchFolder()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    // The process's folder goes when the process ends.
    struct Root {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("torvik_tester_tests." + std::to_string(getpid()));
        ~Root()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Root root;
    const std::filesystem::path dir = root.path / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The data object of a report page (window.TORVIK_REPORT), parsed.
inline nlohmann::json PageData(const std::string& page)
{
    const std::string start = "window.TORVIK_REPORT = ";
    const size_t from = page.find(start);
    if (from == std::string::npos) return nullptr;
    const size_t to = page.find(";</script>", from);
    return nlohmann::json::parse(page.substr(from + start.size(), to - from - start.size()), nullptr, false);
}

}  // namespace torvik::tester::testing
