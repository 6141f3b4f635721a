// The command line of torvik-tester.
#pragma once

#include <ostream>

namespace torvik::tester {

// Runs the tester as its command line asks: reads the bars, replays them,
// prints the summary on out and writes the report folder (or, with `batch`
// or `montecarlo` first, runs that subcommand: commands.h). Problems go to err
// as one message. Answers the exit status: 0 done, 1 a problem with the data
// or the report folder, 2 a problem with the command line.
// progressBar: draw a progress bar on err (main passes whether stderr is a
// terminal).
int RunTester(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar);

}  // namespace torvik::tester
