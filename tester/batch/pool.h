// Worker threads that make runs: each thread takes the next request not yet
// taken, makes it with a library binding of its own and hands the record on
// the moment the run ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "tester/batch/execute.h"

namespace torvik::tester {

struct PoolSettings {
    uint32_t jobs = 1;
    Executor execute;         // null: ExecuteRun
    BindingFactory bindings;  // null: an engine record of each worker's own
    // Where a run's report goes (empty path: none); null: no reports.
    std::function<std::filesystem::path(const RunRequest&)> reportDir;
    // Set from outside (Ctrl-C): no request is started after it is seen;
    // the runs in flight finish.
    const std::atomic<bool>* stop = nullptr;
};

// Makes the requests on `jobs` threads. `finished` is called on the worker's
// thread as each run ends (the calls may overlap; it must be safe for that).
// Answers the records in the requests' order; a request not started because
// of `stop` has none. The first exception of a worker (a record that cannot
// be written) stops the pool and is thrown here once every thread has ended.
std::vector<std::optional<RunRecord>> RunPool(const std::vector<RunRequest>& requests, DataCache& data,
                                              const PoolSettings& settings,
                                              const std::function<void(const RunRecord&)>& finished);

// The cores of this machine (at least 1).
uint32_t MachineCores();

}  // namespace torvik::tester
