// torvik-tester's command line run in this process, its output kept.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "tester/cli/cli.h"

namespace torvik::tester::testing {

struct CliOutcome {
    int status;
    std::string out;
    std::string err;
};

// args without the program's name.
inline CliOutcome RunCli(std::vector<std::string> args)
{
    args.insert(args.begin(), "torvik-tester");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = RunTester(static_cast<int>(argv.size()), argv.data(), out, err, false);
    return CliOutcome{status, out.str(), err.str()};
}

}  // namespace torvik::tester::testing
