// A batch: the plan's runs made on every core, a complete or genetic search
// ranked by a criterion, optionally walked forward, every record written the
// moment its run ends. Every face of the tester (the command line, the
// Python package, cluster workers) makes batches through this.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tester/batch/folder.h"
#include "tester/batch/pool.h"
#include "tester/batch/search.h"
#include "tester/batch/walk_forward.h"

namespace torvik::tester {

enum class Search { Complete, Genetic };

struct WalkForwardSettings {
    Period inSample;
    Period outOfSample;
};

struct BatchSettings {
    Plan plan;
    Criterion criterion = Criterion::Balance;
    Search search = Search::Complete;
    GeneticSettings genetic;
    std::optional<WalkForwardSettings> walkForward;
    bool runReports = false;  // each run's full report in runs/<id>/
};

// What decides which runs a batch makes and what they keep: a folder holds
// the runs of one identity.
Json BatchIdentity(const BatchSettings& settings);

// Checks what the settings can be checked for before any run: a search over
// a walk-forward's from and to, a complete grid too large to run.
void CheckBatch(const BatchSettings& settings);

struct BatchProgress {
    uint64_t done = 0;    // runs of the batch with a record (made now or found in the folder)
    uint64_t failed = 0;  // of those, failed
    uint64_t total = 0;   // runs the batch expects to make (a genetic search may stop before)
    uint64_t ran = 0;     // runs made by this process
};

struct BatchHooks {
    uint32_t jobs = 1;
    Executor execute;         // null: ExecuteRun
    BindingFactory bindings;  // null: an engine record of each worker's own
    const std::atomic<bool>* stop = nullptr;
    // After each run, from the worker's thread, one call at a time.
    std::function<void(const BatchProgress&)> progress;
    DataCache* data = nullptr;  // null: one of the batch's own
};

// A batch stopped by its hooks' stop flag; what finished is in the folder.
class BatchInterrupted : public std::runtime_error {
public:
    BatchInterrupted(uint64_t done, uint64_t total);
    uint64_t done;
    uint64_t total;
};

// A search of one bars entry (and walk-forward window).
struct SearchReport {
    uint32_t entry = 0;
    int32_t window = -1;
    uint64_t gridSize = 0;
    uint64_t passes = 0;
    uint32_t generations = 0;
    SearchEnd end = SearchEnd::Grid;
};

struct WalkForwardWindow {
    WalkWindow period;
    std::optional<uint64_t> chosen;       // index of the in-sample run chosen
    std::optional<uint64_t> outOfSample;  // index of its out-of-sample run
    std::string message;                  // why there is none
};

struct WalkForwardEntry {
    uint32_t entry = 0;
    std::string message;  // why the entry has no windows (its data could not be read)
    std::vector<WalkForwardWindow> windows;
};

struct BatchOutcome {
    std::vector<RunRecord> records;  // every run of the batch, by index
    std::vector<SearchReport> searches;
    std::vector<WalkForwardEntry> walkForward;
    uint64_t ran = 0;  // made by this process (the rest came from the folder)

    const RunRecord* Find(uint64_t index) const;
};

// Makes the batch: the runs the folder (when given) does not hold yet, each
// written there as it ends. Throws BatchInterrupted when stopped, TesterError
// for a batch that cannot be made.
BatchOutcome RunBatch(const BatchSettings& settings, BatchFolder* folder, const BatchHooks& hooks);

}  // namespace torvik::tester
