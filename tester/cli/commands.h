// torvik-tester's subcommands besides the single run: `batch` (many runs,
// optimisation, walk-forward) and `montecarlo` (resampling a run's trades).
// Arguments as for RunTester, without the subcommand's name; the same exit
// statuses, and 130 for a batch stopped by Ctrl-C.
#pragma once

#include <ostream>

namespace torvik::tester {

int RunBatchCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar);
int RunMonteCarloCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace torvik::tester
