#include "tester/batch/batch.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/run/options.h"

namespace torvik::tester {

namespace {

// A complete search of more runs than this is a mistake; a genetic search
// samples a grid of any size.
constexpr uint64_t MaxCompleteRuns = 10'000'000;
constexpr int64_t MillisecondsPerSecond = 1000;

const char* SearchName(Search s) { return s == Search::Complete ? "complete" : "genetic"; }

// The records of the batch: those found in the folder and those made, by
// id, so that no run is made twice.
class RunStore {
public:
    RunStore(BatchFolder* folder, const BatchHooks& hooks, bool runReports)
        : runReports_(runReports), folder_(folder), hooks_(hooks)
    {
        if (folder_ != nullptr) {
            for (RunRecord& r : folder_->Load()) {
                const std::string id = r.request.id;
                done_.emplace(id, std::move(r));
            }
        }
        if (hooks_.data == nullptr) ownData_ = std::make_unique<DataCache>();
        data_ = hooks_.data != nullptr ? hooks_.data : ownData_.get();
    }

    DataCache& Data() { return *data_; }
    void Expect(uint64_t runs) { progress_.total += runs; }

    // The records of the requests, in their order; makes the missing ones.
    std::vector<const RunRecord*> Evaluate(const std::vector<RunRequest>& requests)
    {
        std::vector<RunRequest> missing;
        for (const RunRequest& r : requests) {
            const auto it = done_.find(r.id);
            if (it == done_.end()) {
                if (std::none_of(missing.begin(), missing.end(), [&](const RunRequest& m) { return m.id == r.id; })) {
                    missing.push_back(r);
                }
            } else {
                Count(it->second);
            }
        }
        if (!missing.empty()) Make(missing);
        std::vector<const RunRecord*> out;
        for (const RunRequest& r : requests) out.push_back(&done_.at(r.id));
        return out;
    }

    std::vector<RunRecord> Used() const
    {
        std::vector<RunRecord> records;
        for (const std::string& id : used_) records.push_back(done_.at(id));
        std::sort(records.begin(), records.end(),
                  [](const RunRecord& a, const RunRecord& b) { return a.request.index < b.request.index; });
        return records;
    }
    uint64_t Ran() const { return progress_.ran; }

private:
    // A record counts once towards the progress, whichever way it came.
    void Count(const RunRecord& r)
    {
        if (!used_.insert(r.request.id).second) return;
        ++progress_.done;
        if (!r.ok) ++progress_.failed;
    }

    void Make(const std::vector<RunRequest>& missing)
    {
        PoolSettings pool;
        pool.jobs = hooks_.jobs;
        pool.execute = hooks_.execute;
        pool.bindings = hooks_.bindings;
        pool.stop = hooks_.stop;
        if (folder_ != nullptr) {
            const bool reports = runReports_;
            BatchFolder* folder = folder_;
            pool.reportDir = [reports, folder](const RunRequest& r) {
                return reports ? folder->RunFolder(r.id) : std::filesystem::path();
            };
        }
        const auto finished = [this](const RunRecord& r) {
            if (folder_ != nullptr) folder_->Write(r);
            const std::lock_guard<std::mutex> lock(mutex_);
            ++progress_.ran;
            Count(r);
            if (hooks_.progress) hooks_.progress(progress_);
        };
        std::vector<std::optional<RunRecord>> made = RunPool(missing, Data(), pool, finished);
        for (std::optional<RunRecord>& r : made) {
            if (r) {
                const std::string id = r->request.id;
                done_.emplace(id, std::move(*r));
            }
        }
        if (std::any_of(made.begin(), made.end(), [](const auto& r) { return !r.has_value(); })) {
            throw BatchInterrupted(progress_.done, progress_.total);
        }
    }

    bool runReports_;
    BatchFolder* folder_;
    const BatchHooks& hooks_;
    std::unique_ptr<DataCache> ownData_;
    DataCache* data_;
    std::map<std::string, RunRecord> done_;
    std::set<std::string> used_;
    std::mutex mutex_;
    BatchProgress progress_;
};

// One search over the grid: of a bars entry, or of one walk-forward window
// of it (whose runs test only the in-sample period).
struct Task {
    uint32_t entry = 0;
    int32_t window = -1;
    uint64_t firstIndex = 0;                                 // the run index of grid point 0
    std::vector<std::pair<std::string, std::string>> range;  // --from and --to of the window
    std::unique_ptr<GridSearch> search;
    std::vector<uint64_t> pending;
    std::vector<uint64_t> points;  // every point run, in the order run
};

std::vector<std::pair<std::string, std::string>> TaskOptions(const Plan& plan, const Task& t, uint64_t g)
{
    std::vector<std::pair<std::string, std::string>> options = GridOptions(plan, t.entry, g);
    if (!t.range.empty()) {
        std::erase_if(options, [](const auto& o) { return o.first == "from" || o.first == "to"; });
        options.insert(options.end(), t.range.begin(), t.range.end());
    }
    return options;
}

std::unique_ptr<GridSearch> MakeSearch(const BatchSettings& s, uint32_t entry, int32_t window)
{
    const uint64_t grid = s.plan.GridSize();
    if (s.search == Search::Complete) return std::make_unique<CompleteSearch>(grid);
    std::vector<uint64_t> sizes;
    for (const PlanAxis& a : s.plan.axes) sizes.push_back(a.values.size());
    // Each search draws from its own stream of the seed.
    const uint64_t stream = (static_cast<uint64_t>(entry) << 32) | static_cast<uint32_t>(window + 1);
    return std::make_unique<GeneticSearch>(sizes, s.genetic, StreamSeed(s.genetic.seed, stream));
}

uint64_t ExpectedRuns(const BatchSettings& s)
{
    const uint64_t grid = s.plan.GridSize();
    return s.search == Search::Complete ? grid : std::min(grid, s.genetic.passes);
}

// Runs every task's search to its end, a generation of all of them at a time.
void Drive(const BatchSettings& s, std::vector<Task>& tasks, RunStore& store)
{
    while (true) {
        std::vector<RunRequest> requests;
        for (Task& t : tasks) {
            t.pending = t.search->Next();
            for (const uint64_t g : t.pending) {
                RunRequest r = MakeRequest(t.firstIndex + g, TaskOptions(s.plan, t, g));
                r.entry = t.entry;
                r.window = t.window;
                requests.push_back(std::move(r));
            }
        }
        if (requests.empty()) return;
        const std::vector<const RunRecord*> records = store.Evaluate(requests);
        size_t k = 0;
        for (Task& t : tasks) {
            std::vector<double> scores;
            for (size_t i = 0; i < t.pending.size(); ++i, ++k) {
                const RunRecord& r = *records[k];
                scores.push_back(r.ok ? Score(s.criterion, r.Criterion(s.criterion))
                                      : std::numeric_limits<double>::quiet_NaN());
            }
            t.search->Take(scores);
            t.points.insert(t.points.end(), t.pending.begin(), t.pending.end());
        }
    }
}

SearchReport Report(const BatchSettings& s, const Task& t)
{
    SearchReport r;
    r.entry = t.entry;
    r.window = t.window;
    r.gridSize = s.plan.GridSize();
    r.passes = t.points.size();
    if (const auto* g = dynamic_cast<const GeneticSearch*>(t.search.get())) {
        r.generations = g->Generations();
        r.end = g->End();
    } else {
        r.generations = 1;
    }
    return r;
}

// The test range of a bars entry: where the data of all its files is, cut
// to --from and --to when the plan gives them.
std::pair<uint32_t, uint32_t> TestRange(const BatchSettings& s, uint32_t entry, DataCache& data)
{
    int64_t first = 0;
    int64_t last = std::numeric_limits<uint32_t>::max();
    for (const std::string& file : PortfolioFiles(s.plan.bars[entry])) {
        const std::shared_ptr<const LoadedData> d = data.Get(file);
        first = std::max(first, d->info.firstTimeMs / MillisecondsPerSecond);
        last = std::min(last, d->info.lastTimeMs / MillisecondsPerSecond);
    }
    RunInputs in = DefaultInputs();
    for (const PlanAxis& a : s.plan.axes) {
        if (a.name == "from" || a.name == "to") ApplyOption(in, a.name, a.values.front());
    }
    if (in.from) first = std::max<int64_t>(first, *in.from);
    if (in.to) last = std::min<int64_t>(last, *in.to);
    if (last < first) throw TesterError("the test range holds no data");
    // The end is exclusive, on a whole minute as chart bars are.
    const int64_t end = last - last % MinuteSeconds + MinuteSeconds;
    return {static_cast<uint32_t>(first),
            static_cast<uint32_t>(std::min<int64_t>(end, std::numeric_limits<uint32_t>::max()))};
}

BatchOutcome WalkForward(const BatchSettings& s, RunStore& store)
{
    BatchOutcome outcome;
    const uint64_t grid = s.plan.GridSize();
    std::vector<Task> tasks;
    uint64_t windows = 0;
    for (uint32_t e = 0; e < s.plan.bars.size(); ++e) {
        WalkForwardEntry entry;
        entry.entry = e;
        try {
            const auto [first, end] = TestRange(s, e, store.Data());
            for (const WalkWindow& w : WalkWindows(first, end, s.walkForward->inSample, s.walkForward->outOfSample)) {
                entry.windows.push_back(WalkForwardWindow{w, std::nullopt, std::nullopt, {}});
            }
        } catch (const TesterError& error) {
            entry.message = error.what();
        }
        for (size_t w = 0; w < entry.windows.size(); ++w) {
            Task t;
            t.entry = e;
            t.window = static_cast<int32_t>(w);
            t.firstIndex = (windows + w) * grid;
            const auto [from, to] = RangeTexts(entry.windows[w].period.inFrom, entry.windows[w].period.inTo);
            t.range = {{"from", from}, {"to", to}};
            t.search = MakeSearch(s, e, t.window);
            tasks.push_back(std::move(t));
        }
        windows += entry.windows.size();
        outcome.walkForward.push_back(std::move(entry));
    }
    store.Expect(windows * ExpectedRuns(s) + windows);
    Drive(s, tasks, store);

    // Each window's best in-sample inputs, run on its out-of-sample period.
    const uint64_t outBase = windows * grid;
    std::vector<RunRequest> outRequests;
    uint64_t w = 0;
    size_t taskIndex = 0;
    for (WalkForwardEntry& entry : outcome.walkForward) {
        for (WalkForwardWindow& window : entry.windows) {
            const Task& t = tasks[taskIndex++];
            std::vector<RunRequest> requests;
            for (const uint64_t g : t.points) {
                requests.push_back(MakeRequest(t.firstIndex + g, TaskOptions(s.plan, t, g)));
            }
            const std::vector<const RunRecord*> records = store.Evaluate(requests);
            std::vector<double> values;
            for (const RunRecord* r : records) {
                values.push_back(r->ok ? r->Criterion(s.criterion) : std::numeric_limits<double>::quiet_NaN());
            }
            const std::vector<uint32_t> ranks = Ranks(s.criterion, values);
            const auto best = std::find(ranks.begin(), ranks.end(), 1u) - ranks.begin();
            const RunRecord* chosen = records.empty() ? nullptr : records[static_cast<size_t>(best)];
            if (chosen == nullptr || !chosen->ok) {
                window.message = "no in-sample run succeeded";
                ++w;
                continue;
            }
            window.chosen = chosen->request.index;
            Task outTask;
            outTask.entry = t.entry;
            const auto [from, to] = RangeTexts(window.period.outFrom, window.period.outTo);
            outTask.range = {{"from", from}, {"to", to}};
            const uint64_t g = chosen->request.index - t.firstIndex;
            RunRequest r = MakeRequest(outBase + w, TaskOptions(s.plan, outTask, g));
            r.entry = t.entry;
            r.window = t.window;
            r.outOfSample = true;
            r.keepSeries = true;
            window.outOfSample = r.index;
            outRequests.push_back(std::move(r));
            ++w;
        }
    }
    store.Evaluate(outRequests);
    for (const Task& t : tasks) outcome.searches.push_back(Report(s, t));
    return outcome;
}

}  // namespace

BatchInterrupted::BatchInterrupted(uint64_t done_, uint64_t total_)
    : std::runtime_error(fmt::format("interrupted with {} of {} runs done", done_, total_)), done(done_), total(total_)
{
}

const RunRecord* BatchOutcome::Find(uint64_t index) const
{
    const auto it = std::lower_bound(records.begin(), records.end(), index,
                                     [](const RunRecord& r, uint64_t i) { return r.request.index < i; });
    return it != records.end() && it->request.index == index ? &*it : nullptr;
}

Json BatchIdentity(const BatchSettings& s)
{
    Json j{{"plan", PlanJson(s.plan)}, {"search", SearchName(s.search)}};
    // The criterion decides which runs are made only when something is chosen by it.
    if (s.search == Search::Genetic || s.walkForward) j["criterion"] = CriterionName(s.criterion);
    if (s.search == Search::Genetic) {
        j["seed"] = s.genetic.seed;
        j["passes"] = s.genetic.passes;
        j["population"] = s.genetic.population;
    }
    if (s.walkForward) {
        j["in_sample"] = PeriodText(s.walkForward->inSample);
        j["out_of_sample"] = PeriodText(s.walkForward->outOfSample);
    }
    j["run_reports"] = s.runReports;
    return j;
}

void CheckBatch(const BatchSettings& s)
{
    if (s.plan.bars.empty()) throw OptionError("bars", "is required");
    const uint64_t grid = s.plan.GridSize();
    if (s.walkForward) {
        for (const PlanAxis& a : s.plan.axes) {
            if ((a.name == "from" || a.name == "to") && a.values.size() > 1) {
                throw OptionError(a.name, "takes one value in a walk-forward: the windows set each run's period");
            }
        }
    }
    if (s.search == Search::Complete && (s.plan.bars.size() > MaxCompleteRuns / grid)) {
        throw TesterError(
            fmt::format("the plan has {} runs per bars entry, too many to run whole; use "
                        "--search genetic with a budget of --passes",
                        grid));
    }
    if (s.search == Search::Genetic) {
        if (s.genetic.passes == 0) throw OptionError("passes", "must be 1 or more");
        if (s.genetic.population < 2) throw OptionError("population", "must be 2 or more");
    }
}

BatchOutcome RunBatch(const BatchSettings& s, BatchFolder* folder, const BatchHooks& hooks)
{
    CheckBatch(s);
    RunStore store(folder, hooks, s.runReports);
    BatchOutcome outcome;
    if (s.walkForward) {
        outcome = WalkForward(s, store);
    } else if (s.search == Search::Complete) {
        const std::vector<RunRequest> requests = ExpandPlan(s.plan);
        store.Expect(requests.size());
        store.Evaluate(requests);
    } else {
        std::vector<Task> tasks;
        for (uint32_t e = 0; e < s.plan.bars.size(); ++e) {
            Task t;
            t.entry = e;
            t.firstIndex = e * s.plan.GridSize();
            t.search = MakeSearch(s, e, -1);
            tasks.push_back(std::move(t));
        }
        store.Expect(s.plan.bars.size() * ExpectedRuns(s));
        Drive(s, tasks, store);
        for (const Task& t : tasks) outcome.searches.push_back(Report(s, t));
    }
    outcome.records = store.Used();
    outcome.ran = store.Ran();
    if (folder != nullptr && folder->Replaced()) {
        std::vector<std::string> ids;
        for (const RunRecord& r : outcome.records) ids.push_back(r.request.id);
        folder->Prune(ids);
    }
    return outcome;
}

}  // namespace torvik::tester
