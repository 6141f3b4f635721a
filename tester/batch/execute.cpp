#include "tester/batch/execute.h"

#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "tester/report/report.h"
#include "tester/run/backtest.h"

namespace torvik::tester {

namespace {

// The parts of report.json a record keeps: everything but the refusals'
// list, the calibration and the file list.
const char* const RecordedReportParts[] = {"data", "settings", "modelling_quality", "end", "figures", "signals"};

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
    SeriesSink(const TestSettings& settings, bool tickTimes, bool keep, RunSink* next)
        : settings_(settings), tickTimes_(tickTimes), keep_(keep), next_(next)
    {
        if (keep_) {
            trades_ = TradesHeader;
            equity_ = EquityHeader;
        }
    }
    void OnTrade(const Trade& trade) override
    {
        if (keep_) trades_ += TradeRow(trade, settings_, tickTimes_);
        if (next_ != nullptr) IntoFolder([&] { next_->OnTrade(trade); });
    }
    void OnEquityRow(const EquityRow& row) override
    {
        if (keep_) equity_ += EquityRowText(row, settings_, tickTimes_);
        if (next_ != nullptr) IntoFolder([&] { next_->OnEquityRow(row); });
    }
    void OnChartBar(const ChartBar& bar) override
    {
        if (next_ != nullptr) next_->OnChartBar(bar);
    }
    std::string trades_;
    std::string equity_;

private:
    const TestSettings& settings_;
    bool tickTimes_;
    bool keep_;
    RunSink* next_;
};

// The run's data. Several charts in one run come with the portfolio work on
// the run API; until then a run takes one file.
std::shared_ptr<const LoadedData> RunData(const RunInputs& in, DataCache& data)
{
    if (PortfolioFiles(in.bars).size() > 1) {
        throw TesterError(fmt::format("{}: several charts in one run are not supported by this tester yet", in.bars));
    }
    return data.Get(in.bars);
}

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
    std::promise<std::shared_ptr<const LoadedData>> ready;
    ready.set_value(std::make_shared<const LoadedData>(std::move(data)));
    const std::lock_guard<std::mutex> lock(mutex_);
    files_[file] = ready.get_future().share();
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
        const std::shared_ptr<const LoadedData> data = RunData(in, worker.Data());
        const RunSpec spec = ResolveRun(in, data->info, data.get());
        const bool tickTimes = data->info.IsTicks();
        std::unique_ptr<ReportFolder> folder;
        if (!reportDir.empty()) {
            IntoFolder([&] { folder = std::make_unique<ReportFolder>(reportDir.string(), spec.settings, tickTimes); });
        }
        SeriesSink sink(spec.settings, tickTimes, request.keepSeries, folder.get());
        const std::unique_ptr<LibraryBinding> library = worker.NewBinding(in.signals);
        RunHooks hooks;
        hooks.library = library.get();
        hooks.sink = &sink;
        const TestRun run{in.bars, data->info, spec.settings, RunBacktest(spec, hooks)};
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
