#include "tester/batch/pool.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>

namespace torvik::tester {

std::vector<std::optional<RunRecord>> RunPool(const std::vector<RunRequest>& requests, DataCache& data,
                                              const PoolSettings& settings,
                                              const std::function<void(const RunRecord&)>& finished)
{
    std::vector<std::optional<RunRecord>> records(requests.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::exception_ptr error;
    const Executor execute = settings.execute ? settings.execute : Executor(ExecuteRun);

    const auto work = [&] {
        try {
            Worker worker(data, settings.bindings);
            while (!failed.load() && (settings.stop == nullptr || !settings.stop->load())) {
                const size_t i = next.fetch_add(1);
                if (i >= requests.size()) break;
                const std::filesystem::path dir =
                    settings.reportDir ? settings.reportDir(requests[i]) : std::filesystem::path();
                RunRecord record = execute(requests[i], worker, dir);
                if (finished) finished(record);
                records[i] = std::move(record);  // each slot is written by one thread only
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(errorMutex);
            if (!error) error = std::current_exception();
            failed = true;
        }
    };
    const size_t threads = std::min<size_t>(std::max<uint32_t>(settings.jobs, 1), requests.size());
    std::vector<std::thread> pool;
    try {
        for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    } catch (...) {
        // No more threads to be had: the ones started and this one do the work.
    }
    work();  // the calling thread is a worker too
    for (std::thread& t : pool) t.join();
    if (error) std::rethrow_exception(error);
    return records;
}

uint32_t MachineCores() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace torvik::tester
