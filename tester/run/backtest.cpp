#include "tester/run/backtest.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/expert/bar_window.h"

namespace torvik::tester {

namespace {

constexpr int64_t MillisecondsPerSecond = 1000;
constexpr uint64_t ProgressEveryTicks = 1 << 16;

uint32_t Seconds(int64_t timeMs) { return static_cast<uint32_t>(timeMs / MillisecondsPerSecond); }

// Watches the equity between rows of equity.csv and hands trades and
// samples on to the figures and the sink.
class Monitor : public BrokerObserver {
public:
    Monitor(double deposit, RunSink* sink, RunOutcome& outcome)
        : figures_(deposit), sink_(sink), outcome_(outcome)
    {
    }

    // The account whose positions the time in the market looks at.
    void Watch(const Account* account) { account_ = account; }

    void OnTrade(const Trade& trade) override
    {
        ++outcome_.trades;
        figures_.AddTrade(trade, StillOpenSince(trade.ticket));
        if (sink_ != nullptr) sink_->OnTrade(trade);
    }

    void OnEquity(int64_t timeMs, double equity) override
    {
        figures_.AddEquity(Seconds(timeMs), equity);
        low_ = std::min(low_, equity);
        high_ = std::max(high_, equity);
    }

    void Row(int64_t timeMs, const Account& account, double equity)
    {
        ++outcome_.equityRows;
        figures_.AddEquityRow(timeMs, equity);
        if (sink_ != nullptr) {
            sink_->OnEquityRow(EquityRow{timeMs, account.Balance(), equity, std::min(low_, equity),
                                         std::max(high_, equity), account.Margin(),
                                         static_cast<int32_t>(account.Positions().size())});
        }
        low_ = std::numeric_limits<double>::infinity();
        high_ = -std::numeric_limits<double>::infinity();
    }

    Figures Result() const { return figures_.Result(); }

private:
    // The earliest open time of the positions other than this closing one.
    int64_t StillOpenSince(int32_t closing) const
    {
        int64_t since = ExposureTracker::NoneOpen;
        if (account_ == nullptr) return since;
        for (const Position& p : account_->Positions()) {
            if (p.ticket != closing) since = std::min(since, p.openTimeMs);
        }
        return since;
    }

    FigureAccumulator figures_;
    const Account* account_ = nullptr;
    RunSink* sink_;
    RunOutcome& outcome_;
    double low_ = std::numeric_limits<double>::infinity();
    double high_ = -std::numeric_limits<double>::infinity();
};

BarRecord RecordOf(const ChartBar& b) { return BarRecord{b.time, b.open, b.low, b.high, b.close, b.volume}; }

}  // namespace

void ValidateSettings(const TestSettings& s)
{
    if (s.window < MinWindow || s.window > MaxWindow) {
        throw TesterError(fmt::format("the window is {} bars; it must be {} to {}", s.window, MinWindow, MaxWindow));
    }
    if (s.symbol.empty()) throw TesterError("no symbol");
    if (s.digits < 0 || s.digits > MaxDigits) throw TesterError(fmt::format("digits {} outside 0 to 8", s.digits));
    if (!(s.point > 0.0)) throw TesterError("the point must be above 0");
    if (!(s.deposit > 0.0) || !std::isfinite(s.deposit)) throw TesterError("the deposit must be above 0");
    if (s.leverage < 1) throw TesterError("the leverage must be 1 or more");
    if (s.contractSize < 1 || s.contractSize > std::numeric_limits<int32_t>::max()) {
        throw TesterError("the contract size must be 1 to 2147483647");
    }
    if (s.spreadPoints < 0) throw TesterError("the spread cannot be negative");
    if (s.maxPositions < 1) throw TesterError("at least one position must be allowed");
    if (!(s.stopOutPercent >= 0.0)) throw TesterError("the stop-out level cannot be negative");
    if (s.conversion == Conversion::FixedRate && !(s.conversionRate > 0.0 && std::isfinite(s.conversionRate))) {
        throw TesterError("the conversion rate must be above 0");
    }
}

RunOutcome RunBacktest(const RunSpec& spec, const RunHooks& hooks)
{
    const TestSettings& s = spec.settings;
    ValidateSettings(s);
    if (spec.charts.size() != 1) throw TesterError("a run takes one chart");
    const ChartSource& chart = spec.charts[0];

    std::unique_ptr<LibraryBinding> exports;
    LibraryBinding* lib = hooks.library;
    if (lib == nullptr) {
        exports = std::make_unique<TableBinding>(Exports());
        lib = exports.get();
    }
    std::unique_ptr<RowSource> source;
    if (chart.loaded != nullptr) {
        source = std::make_unique<LoadedRows>(*chart.loaded);
    } else {
        source = std::make_unique<FileRows>(chart.file, chart.info.bytes);
    }
    const uint32_t timeframe = s.timeframeSeconds != 0 ? s.timeframeSeconds : chart.info.timeframeSeconds;
    const bool buildBars = chart.info.IsTicks() || timeframe != chart.info.timeframeSeconds;
    PricePath path(*source, PathSettings{s.model, timeframe, buildBars, s.spreadPoints, s.spreadFixed, s.digits,
                                         s.point});

    RunOutcome outcome;
    ModellingQuality& quality = outcome.quality;
    const bool realPaths = s.model == Model::Lower || s.model == Model::Ticks;
    if (s.model == Model::Ticks) quality.source = "ticks";
    if (s.model == Model::Lower) quality.source = TimeframeName(chart.info.timeframeSeconds);
    const uint64_t partsPerBar =
        s.model == Model::Lower && chart.info.timeframeSeconds > 0 && timeframe != MonthSeconds
            ? timeframe / chart.info.timeframeSeconds
            : 0;

    Monitor monitor(s.deposit, hooks.sink, outcome);
    Account account(s, monitor);
    monitor.Watch(&account);
    Advisor advisor(s, *lib, account, outcome.tally);
    BarWindow window(static_cast<size_t>(s.window));
    // The expert advisor starts on a library in its initial state.
    lib->Reset();

    bool testing = false;  // the current chart bar is in the test
    bool anyTick = false;
    Quote last{0.0, 0.0};
    int64_t lastMs = 0;
    // A chart bar of the test has ended: its row of equity.csv and its share
    // of the modelling quality.
    const auto finishBar = [&](const ChartBar& bar) {
        ++quality.chartBars;
        if (realPaths && (bar.parts >= 2 || s.model == Model::Ticks)) {
            ++quality.realPath;
            if (partsPerBar > 0 && bar.parts < partsPerBar) ++quality.withHoles;
        } else if (realPaths) {
            ++quality.fellBack;
        }
        outcome.lastBarTime = bar.time;
        if (hooks.sink != nullptr) hooks.sink->OnChartBar(bar);
        if (s.equityRows == EquityRows::Bars) {
            const Quote close = s.model == Model::Open ? path.CloseQuote(bar) : last;
            monitor.Row(static_cast<int64_t>(bar.time) * MillisecondsPerSecond, account, account.Equity(close));
        }
    };

    PathTick t;
    while (path.Next(t)) {
        if (t.newChartBar) {
            if (outcome.chartBarsSeen > 0) {
                window.Newest() = RecordOf(path.Previous());
                if (testing) finishBar(path.Previous());
            }
            const uint32_t time = path.Bar().time;
            if (testing && time > s.toTime) {
                testing = false;
                break;
            }
            ++outcome.chartBarsSeen;
            if (!testing && outcome.chartBarsSeen >= static_cast<uint64_t>(s.window) && time >= s.fromTime &&
                time <= s.toTime) {
                testing = true;
                outcome.firstBarTime = time;
            }
            window.Push(BarRecord{time, t.quote.bid, t.quote.bid, t.quote.bid, t.quote.bid, 1.0});
        } else {
            // The forming bar: only what has been seen of it so far. Fields
            // of the packed record are read by value.
            BarRecord& forming = window.Newest();
            const double bid = t.quote.bid;
            if (bid < forming.low) forming.low = bid;
            if (bid > forming.high) forming.high = bid;
            forming.close = bid;
            forming.volume = forming.volume + 1.0;
        }
        if (!testing) continue;

        ++outcome.ticks;
        if (anyTick) account.Move(last, t.quote, t.gap, t.timeMs);
        last = t.quote;
        lastMs = t.timeMs;
        if (account.Emptied()) break;
        if (s.cadence == Cadence::Tick || t.newChartBar) {
            const TickRecord r = advisor.Update(window, t.quote, t.timeMs);
            if (!anyTick) outcome.firstCalibration = advisor.ReadCalibration();
            if (hooks.observer != nullptr) hooks.observer->OnUpdate(r);
        }
        anyTick = true;
        account.Watch(t.quote);
        const double equity = account.Equity(t.quote);
        monitor.OnEquity(t.timeMs, equity);
        if (s.model == Model::Open) account.RestOfBar(t.quote, path.LowQuote(), path.HighQuote(), t.timeMs);
        if (s.equityRows == EquityRows::Ticks) monitor.Row(t.timeMs, account, account.Equity(t.quote));
        if (account.Emptied()) break;
        if (hooks.progress != nullptr && outcome.ticks % ProgressEveryTicks == 0) {
            hooks.progress(hooks.progressContext, source->Progress());
        }
    }
    if (!anyTick && outcome.chartBarsSeen < static_cast<uint64_t>(s.window)) {
        throw TesterError(fmt::format("{}: {} chart bars, fewer than the window of {}: nothing to test", chart.file,
                                      outcome.chartBarsSeen, s.window));
    }
    if (!anyTick) throw TesterError("no bar of the test range has a full window of history before it");
    if (testing) finishBar(path.Bar());
    outcome.lastCalibration = advisor.ReadCalibration();
    outcome.emptied = account.Emptied();
    outcome.endedAtMs = account.Emptied() ? account.EmptiedAtMs() : lastMs;

    // The test ends at the last modelled tick; what is still open closes there.
    account.CloseAll(last, lastMs, CloseReason::EndOfTest);
    monitor.OnEquity(lastMs, account.Balance());
    monitor.Row(lastMs, account, account.Balance());
    outcome.figures = monitor.Result();
    if (hooks.progress != nullptr) hooks.progress(hooks.progressContext, 1.0);
    return outcome;
}

}  // namespace torvik::tester
