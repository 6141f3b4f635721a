// What torvik-tester's subcommands share: reading their command line, and
// turning a problem into one message and an exit status.
#pragma once

#include <optional>
#include <ostream>

#include <CLI/CLI.hpp>

#include "tester/run/options.h"

namespace torvik::tester {

// Parses the arguments and runs `check` on what they gave. Answers the exit
// status when the command ends here: 0 after printing the help, 2 for a
// problem (one message and a hint); nothing when it goes on.
template <typename Check>
std::optional<int> ParseArguments(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                                  std::ostream& err, Check check)
{
    try {
        app.parse(argc, argv);
        check();
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        err << app.get_name() << ": " << e.what() << "\nRun with --help for the options.\n";
        return 2;
    } catch (const TesterError& e) {
        err << app.get_name() << ": " << e.what() << "\nRun with --help for the options.\n";
        return 2;
    }
    return std::nullopt;
}

// Runs the command: a problem with an option ends it with 2, any other
// problem with 1, each as one message.
template <typename Run>
int RunGuarded(const char* program, std::ostream& err, Run run)
{
    try {
        return run();
    } catch (const OptionError& e) {
        err << program << ": " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << "\n";
        return 1;
    }
}

}  // namespace torvik::tester
