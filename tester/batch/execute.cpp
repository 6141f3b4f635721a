#include "tester/batch/execute.h"

#include <optional>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "tester/report/report.h"
#include "tester/run/backtest.h"

namespace torvik::tester {

namespace {

// The parts of report.json a record keeps: everything but the refusals'
// list, the calibration and the file list.
const char* const RecordedReportParts[] = {"data",    "settings", "modelling_quality", "end", "figures",
                                           "symbols", "signals"};

// A run's report folder could not be written: the batch's problem (a full
// disk, a folder taken away), not the run's.
class FolderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template <typename Write>
void IntoFolder(Write write)
{
    try {
        write();
    } catch (const TesterError& e) {
        throw FolderError(e.what());
    }
}

// Collects the run's trades.csv and equity.csv as texts, and passes
// everything on to the report folder when there is one.
class SeriesSink : public RunSink {
public:
    SeriesSink(const TestSettings& settings, std::vector<TestSettings> charts, bool tickTimes, bool keep, RunSink* next)
        : settings_(settings), charts_(std::move(charts)), tickTimes_(tickTimes), keep_(keep), next_(next)
    {
        if (keep_) {
            trades_ = TradesHeader;
            equity_ = EquityHeader;
        }
    }
    void OnTrade(const Trade& trade) override
    {
        const auto c = static_cast<size_t>(trade.chart);
        if (keep_) trades_ += TradeRow(trade, c < charts_.size() ? charts_[c] : settings_, tickTimes_);
        if (next_ != nullptr) IntoFolder([&] { next_->OnTrade(trade); });
    }
    void OnEquityRow(const EquityRow& row) override
    {
        if (keep_) equity_ += EquityRowText(row, settings_, tickTimes_);
        if (next_ != nullptr) IntoFolder([&] { next_->OnEquityRow(row); });
    }
    void OnChartBar(const ChartBar& bar) override
    {
        if (next_ != nullptr) IntoFolder([&] { next_->OnChartBar(bar); });
    }
    std::string trades_;
    std::string equity_;

private:
    const TestSettings& settings_;
    std::vector<TestSettings> charts_;
    bool tickTimes_;
    bool keep_;
    RunSink* next_;
};

}  // namespace

std::shared_ptr<const LoadedData> DataCache::Get(const std::string& file)
{
    std::shared_future<std::shared_ptr<const LoadedData>> future;
    std::optional<std::promise<std::shared_ptr<const LoadedData>>> loader;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        auto it = files_.find(file);
        if (it == files_.end()) {
            loader.emplace();
            it = files_.emplace(file, loader->get_future().share()).first;
        }
        future = it->second;
    }
    if (loader) {
        try {
            loader->set_value(std::make_shared<const LoadedData>(LoadFile(file)));
        } catch (...) {
            loader->set_exception(std::current_exception());
        }
    }
    return future.get();
}

void DataCache::Put(const std::string& file, LoadedData data)
{
    Put(file, std::make_shared<const LoadedData>(std::move(data)));
}

void DataCache::Put(const std::string& file, std::shared_ptr<const LoadedData> data)
{
    std::promise<std::shared_ptr<const LoadedData>> ready;
    ready.set_value(std::move(data));
    const std::lock_guard<std::mutex> lock(mutex_);
    files_[file] = ready.get_future().share();
}

void DataCache::PutError(const std::string& file, const std::string& message)
{
    std::promise<std::shared_ptr<const LoadedData>> failed;
    failed.set_exception(std::make_exception_ptr(TesterError(message)));
    const std::lock_guard<std::mutex> lock(mutex_);
    files_[file] = failed.get_future().share();
}

std::unique_ptr<LibraryBinding> OwnEngine(Signals signals)
{
    return std::make_unique<EngineBinding>(signals == Signals::Reference);
}

Worker::Worker(DataCache& data, BindingFactory factory) : data_(data), factory_(std::move(factory))
{
    if (!factory_) factory_ = OwnEngine;
}

RunRecord ExecuteRun(const RunRequest& request, Worker& worker, const std::filesystem::path& reportDir)
{
    RunRecord record;
    record.request = request;
    try {
        RunInputs in = DefaultInputs();
        for (const auto& [name, text] : request.options) ApplyOption(in, name, text);
        CheckInputs(in);
        // Every chart's data from the cache: parsed once, shared by the runs.
        std::vector<std::shared_ptr<const LoadedData>> data;
        std::vector<ChartSource> sources;
        for (const std::string& file : ChartFiles(in)) {
            data.push_back(worker.Data().Get(file));
            sources.push_back(ChartSource{file, data.back().get(), data.back()->info});
        }
        const ResolvedRun resolved = ResolveRun(in, sources);
        const std::vector<TestSettings> charts = resolved.AllChartSettings();
        const bool tickTimes = resolved.TickTimes();
        std::unique_ptr<ReportFolder> folder;
        if (!reportDir.empty()) {
            IntoFolder(
                [&] { folder = std::make_unique<ReportFolder>(reportDir.string(), resolved.settings, tickTimes, charts); });
        }
        SeriesSink sink(resolved.settings, charts, tickTimes, request.keepSeries, folder.get());
        const std::unique_ptr<LibraryBinding> library = worker.NewBinding(in.signals);
        RunHooks hooks;
        hooks.library = library.get();
        hooks.sink = &sink;
        const TestRun run{in.bars, resolved.charts[0].info, resolved.settings, RunBacktest(resolved, hooks), resolved.charts, in.given};
        if (folder) IntoFolder([&] { folder->Finish(run); });

        const Json report = Json::parse(ReportJson(run));
        record.report = Json::object();
        for (const char* part : RecordedReportParts) record.report[part] = report.at(part);
        for (const Criterion c : AllCriteria) {
            record.criteria[static_cast<size_t>(c)] = CriterionValue(c, run.outcome.figures);
        }
        record.trades = std::move(sink.trades_);
        record.equity = std::move(sink.equity_);
        record.ok = true;
    } catch (const std::bad_alloc&) {
        throw;  // the machine's problem, not the run's
    } catch (const FolderError&) {
        throw;
    } catch (const std::exception& e) {
        record = RunRecord{};
        record.request = request;
        record.message = e.what();
    }
    return record;
}

}  // namespace torvik::tester
