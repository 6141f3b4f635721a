// torvik-tester's subcommands besides the single run: `batch` (many runs,
// optimisation, walk-forward) and `montecarlo` (resampling a run's trades).
// Arguments as for RunTester, without the subcommand's name; the same exit
// statuses, and 130 for a batch stopped by Ctrl-C.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <variant>

#include "tester/batch/batch.h"

namespace torvik::tester {

int RunBatchCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool progressBar);
int RunMonteCarloCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// The batch command as another program offers it (the Python package's
// `python3 -m torvik batch`): its name in messages, and whether it takes
// --scheduler ADDRESS to make the runs on a cluster.
struct BatchCommandFace {
    std::string program = "torvik-tester batch";
    bool scheduler = false;
};

// What a batch command line asks for.
struct BatchCommand {
    BatchSettings settings;
    std::string folder;  // --report, or empty
    uint32_t jobs = 1;
    bool jobsGiven = false;
    bool force = false;
    bool quiet = false;
    std::string scheduler;  // --scheduler, when the face takes it
};

// Reads a batch command line. Answers the command, or the exit status when
// it ends here: 0 after printing the help, 2 for a problem (one message on err).
std::variant<BatchCommand, int> ParseBatchCommand(int argc, const char* const* argv, std::ostream& out,
                                                  std::ostream& err, const BatchCommandFace& face = {});

// Makes the batch as the command line does: progress on err, the summary's
// console text on out, the summary files in the folder. `execute` makes the
// runs elsewhere (null: on this machine).
int RunBatchCommand(const BatchCommand& command, std::ostream& out, std::ostream& err, bool progressBar,
                    const Executor& execute = {}, const BatchCommandFace& face = {});

}  // namespace torvik::tester
