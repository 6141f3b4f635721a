// Making one run of a batch: the request's options go through the run API
// exactly as torvik-tester's command line sends them, with the data parsed
// once and shared, and the library bound to an engine record of the run's
// own (the exports share one record per process, so runs in threads must not
// call them).
#pragma once

#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tester/batch/record.h"
#include "tester/data/source.h"
#include "tester/expert/library.h"
#include "tester/run/options.h"

namespace torvik::tester {

// Bar and tick files, each parsed once and shared read-only by every run
// (and thread) that uses it, for the life of the cache.
class DataCache {
public:
    // The file's data; parsed by the first caller while the others wait. A
    // file that cannot be read throws its message on every call.
    std::shared_ptr<const LoadedData> Get(const std::string& file);
    // Data the caller has already (parsed elsewhere): runs naming `file` use it.
    void Put(const std::string& file, LoadedData data);
    void Put(const std::string& file, std::shared_ptr<const LoadedData> data);
    // A file known to be unreadable elsewhere: runs naming it fail with
    // `message`, as they would have failed there.
    void PutError(const std::string& file, const std::string& message);

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_future<std::shared_ptr<const LoadedData>>> files_;
};

// Makes the library binding of one run: by default an engine record of its
// own with the fast or the straightforward decisions.
using BindingFactory = std::function<std::unique_ptr<LibraryBinding>(Signals signals)>;
std::unique_ptr<LibraryBinding> OwnEngine(Signals signals);

// One worker's means: the shared data, and the binding factory that gives
// each of its runs an engine record of the run's own, fresh as the single
// run's is, so that no run depends on the ones the worker made before.
class Worker {
public:
    Worker(DataCache& data, BindingFactory factory);
    DataCache& Data() { return data_; }
    std::unique_ptr<LibraryBinding> NewBinding(Signals signals) const { return factory_(signals); }

private:
    DataCache& data_;
    BindingFactory factory_;
};

// Makes the run. Problems of the run itself (bad data, a refused setting)
// are the record's message, never an exception. reportDir: where the run's
// full report goes (the single run's four files), or empty for none.
RunRecord ExecuteRun(const RunRequest& request, Worker& worker, const std::filesystem::path& reportDir = {});

// What makes a run: ExecuteRun, or a stand-in for tests.
using Executor = std::function<RunRecord(const RunRequest&, Worker&, const std::filesystem::path& reportDir)>;

}  // namespace torvik::tester
