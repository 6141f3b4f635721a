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
        outcome_.charts[static_cast<size_t>(trade.chart)].figures.Add(trade);
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

// One chart of the run: its data, path, window and expert, and where it
// stands.
struct Chart {
    int32_t index = 0;
    const ChartSource* source = nullptr;
    const TestSettings* s = nullptr;
    std::unique_ptr<RowSource> rows;
    std::unique_ptr<PricePath> path;
    std::unique_ptr<BarWindow> window;
    std::unique_ptr<Advisor> advisor;
    uint32_t timeframe = 0;
    bool realPaths = false;
    uint64_t partsPerBar = 0;
    bool testing = false;  // the current chart bar is in the test
    bool anyTick = false;  // a tick of the test was modelled
    bool ended = false;
    PathTick next;
    bool hasNext = false;
    int64_t lastMs = 0;
};

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
    if (s.slippageMin < 0 || s.slippageMax < s.slippageMin) throw TesterError("the slippage must be 0 <= A <= B");
    if (s.stopLevel < 0 || s.freezeLevel < 0) throw TesterError("stop and freeze levels cannot be negative");
    if (s.rolloverHour < 0 || s.rolloverHour > 23) throw TesterError("the rollover hour must be 0 to 23");
    if (!(s.commission >= 0.0)) throw TesterError("the commission cannot be negative");
}

RunOutcome RunBacktest(const ResolvedRun& resolved, const RunHooks& hooks)
{
    const TestSettings& account = resolved.settings;
    if (resolved.charts.empty()) throw TesterError("a run takes at least one chart");
    std::vector<TestSettings> chartSettings;
    for (size_t c = 0; c < resolved.charts.size(); ++c) {
        ValidateSettings(resolved.ChartSettings(c));
        chartSettings.push_back(resolved.ChartSettings(c));
    }
    ValidateSettings(account);

    std::unique_ptr<LibraryBinding> exports;
    LibraryBinding* lib = hooks.library;
    if (lib == nullptr) {
        exports = std::make_unique<TableBinding>(Exports());
        lib = exports.get();
    }

    RunOutcome outcome;
    outcome.charts.resize(resolved.charts.size());
    Monitor monitor(account.deposit, hooks.sink, outcome);
    Account broker(account, chartSettings, monitor);
    monitor.Watch(&broker);

    std::vector<Chart> charts(resolved.charts.size());
    // equity.csv follows the chart with the shortest timeframe (the first of them).
    size_t clock = 0;
    for (size_t c = 0; c < charts.size(); ++c) {
        Chart& ch = charts[c];
        const ChartSource& source = resolved.charts[c];
        const TestSettings& s = resolved.ChartSettings(c);
        ch.index = static_cast<int32_t>(c);
        ch.source = &source;
        ch.s = &s;
        outcome.charts[c].symbol = s.symbol;
        outcome.charts[c].figures.symbol = s.symbol;
        if (source.loaded != nullptr) {
            ch.rows = std::make_unique<LoadedRows>(*source.loaded);
        } else {
            ch.rows = std::make_unique<FileRows>(source.file, source.info.bytes);
        }
        ch.timeframe = s.timeframeSeconds != 0 ? s.timeframeSeconds : source.info.timeframeSeconds;
        const bool buildBars = source.info.IsTicks() || ch.timeframe != source.info.timeframeSeconds;
        ch.path = std::make_unique<PricePath>(
            *ch.rows, PathSettings{s.model, ch.timeframe, buildBars, s.spreadPoints, s.spreadFixed, s.digits, s.point,
                                     s.digits < source.info.digits});
        ch.window = std::make_unique<BarWindow>(static_cast<size_t>(s.window));
        ch.advisor = std::make_unique<Advisor>(s, *lib, broker, outcome.tally, ch.index);
        ch.realPaths = s.model == Model::Lower || s.model == Model::Ticks;
        ModellingQuality& quality = outcome.charts[c].quality;
        if (s.model == Model::Ticks) quality.source = "ticks";
        if (s.model == Model::Lower) quality.source = TimeframeName(source.info.timeframeSeconds);
        ch.partsPerBar = s.model == Model::Lower && source.info.timeframeSeconds > 0 && ch.timeframe != MonthSeconds
                             ? ch.timeframe / source.info.timeframeSeconds
                             : 0;
        if (ch.timeframe < charts[clock].timeframe) clock = c;
    }
    // The expert advisors start on a library in its initial state.
    lib->Reset();

    bool anyUpdate = false;
    int64_t lastMs = 0;
    int64_t lastRowMs = std::numeric_limits<int64_t>::min();  // equity.csv's last bar row
    uint64_t ticks = 0;
    // A chart bar of the test has ended: its share of the modelling quality,
    // and the equity row when it is the clock chart's.
    const auto finishBar = [&](Chart& ch, const ChartBar& bar) {
        ChartOutcome& out = outcome.charts[static_cast<size_t>(ch.index)];
        ModellingQuality& quality = out.quality;
        ++quality.chartBars;
        if (ch.realPaths && (bar.parts >= 2 || ch.s->model == Model::Ticks)) {
            ++quality.realPath;
            if (ch.partsPerBar > 0 && bar.parts < ch.partsPerBar) ++quality.withHoles;
        } else if (ch.realPaths) {
            ++quality.fellBack;
        }
        out.lastBarTime = bar.time;
        if (hooks.sink != nullptr) {
            ChartBar b = bar;
            b.chart = ch.index;
            hooks.sink->OnChartBar(b);
        }
        if (account.equityRows == EquityRows::Bars && static_cast<size_t>(ch.index) == clock &&
            static_cast<int64_t>(bar.time) * MillisecondsPerSecond > lastRowMs) {
            lastRowMs = static_cast<int64_t>(bar.time) * MillisecondsPerSecond;
            const Quote close = ch.s->model == Model::Open ? ch.path->CloseQuote(bar) : broker.CurrentQuote(ch.index);
            monitor.Row(static_cast<int64_t>(bar.time) * MillisecondsPerSecond, broker,
                        broker.EquityWith(ch.index, close));
        }
    };
    // The chart has no more ticks in the test: its last bar ends and its
    // positions close at its last prices.
    const auto endChart = [&](Chart& ch) {
        ch.ended = true;
        ch.hasNext = false;
        const ChartOutcome& out = outcome.charts[static_cast<size_t>(ch.index)];
        if (!ch.anyTick && out.chartBarsSeen < static_cast<uint64_t>(ch.s->window)) {
            throw TesterError(fmt::format("{}: {} chart bars, fewer than the window of {}: nothing to test",
                                          ch.source->file, out.chartBarsSeen, ch.s->window));
        }
        if (!ch.anyTick) throw TesterError("no bar of the test range has a full window of history before it");
        if (ch.testing) finishBar(ch, ch.path->Bar());
        ch.testing = false;
        broker.CloseAll(ch.lastMs, CloseReason::EndOfTest, ch.index);
        // equity.csv goes on with the chart of the shortest timeframe still running.
        if (static_cast<size_t>(ch.index) == clock) {
            for (size_t c = 0; c < charts.size(); ++c) {
                if (!charts[c].ended && (clock == static_cast<size_t>(ch.index) ||
                                         charts[c].timeframe < charts[clock].timeframe)) {
                    clock = c;
                }
            }
        }
    };

    // One modelled tick of one chart; false when the chart leaves the test
    // range with it.
    const auto tick = [&](Chart& ch, const PathTick& t) {
        ChartOutcome& out = outcome.charts[static_cast<size_t>(ch.index)];
        const TestSettings& s = *ch.s;
        if (t.newChartBar) {
            if (out.chartBarsSeen > 0) {
                ch.window->Newest() = RecordOf(ch.path->Previous());
                if (ch.testing) finishBar(ch, ch.path->Previous());
            }
            const uint32_t time = ch.path->Bar().time;
            if (ch.testing && time > s.toTime) {
                ch.testing = false;
                return false;
            }
            ++out.chartBarsSeen;
            if (!ch.testing && out.chartBarsSeen >= static_cast<uint64_t>(s.window) && time >= s.fromTime &&
                time <= s.toTime) {
                ch.testing = true;
                out.firstBarTime = time;
            }
            ch.window->Push(BarRecord{time, t.quote.bid, t.quote.bid, t.quote.bid, t.quote.bid, 1.0});
        } else {
            // The forming bar: only what has been seen of it so far. Fields
            // of the packed record are read by value.
            BarRecord& forming = ch.window->Newest();
            const double bid = t.quote.bid;
            if (bid < forming.low) forming.low = bid;
            if (bid > forming.high) forming.high = bid;
            forming.close = bid;
            forming.volume = forming.volume + 1.0;
        }
        if (!ch.testing) {
            // History: its prices still convert other charts' money.
            broker.SetQuote(ch.index, t.quote);
            return true;
        }

        ++ticks;
        ++out.ticks;
        broker.PassTime(t.timeMs);
        if (ch.anyTick) {
            broker.Move(ch.index, t.quote, t.gap, t.timeMs);
        } else {
            broker.SetQuote(ch.index, t.quote);
        }
        ch.lastMs = t.timeMs;
        lastMs = std::max(lastMs, t.timeMs);
        ch.anyTick = true;
        if (broker.Emptied()) return true;
        if (account.cadence == Cadence::Tick || t.newChartBar) {
            const TickRecord r = ch.advisor->Update(*ch.window, t.quote, t.timeMs);
            if (!anyUpdate) outcome.firstCalibration = ch.advisor->ReadCalibration();
            anyUpdate = true;
            if (hooks.observer != nullptr) hooks.observer->OnUpdate(r);
        }
        broker.Watch(ch.index, t.quote);
        monitor.OnEquity(t.timeMs, broker.Equity());
        if (s.model == Model::Open) {
            broker.RestOfBar(ch.index, ch.path->LowQuote(), ch.path->HighQuote(), t.timeMs);
        }
        if (account.equityRows == EquityRows::Ticks) monitor.Row(t.timeMs, broker, broker.Equity());
        return true;
    };

    for (Chart& ch : charts) ch.hasNext = ch.path->Next(ch.next);
    // Every pass takes one tick of one chart off the front, so the loop ends
    // with the data.
    while (!broker.Emptied()) {
        // The next tick in time; on a tie the chart given first.
        Chart* ch = nullptr;
        for (Chart& c : charts) {
            if (c.hasNext && (ch == nullptr || c.next.timeMs < ch->next.timeMs)) ch = &c;
        }
        if (ch == nullptr) break;
        if (!tick(*ch, ch->next)) {
            endChart(*ch);
            continue;
        }
        if (broker.Emptied()) break;
        ch->hasNext = ch->path->Next(ch->next);
        if (!ch->hasNext) endChart(*ch);
        if (hooks.progress != nullptr && ticks % ProgressEveryTicks == 0 && ticks > 0) {
            double done = 0.0;
            for (const Chart& c : charts) done += c.ended ? 1.0 : c.rows->Progress();
            hooks.progress(hooks.progressContext, done / static_cast<double>(charts.size()));
        }
    }
    if (broker.Emptied()) {
        // A chart whose next tick (read ahead) starts a new bar is still in
        // the bar before it.
        for (Chart& ch : charts) {
            if (ch.testing && !ch.ended) {
                finishBar(ch, ch.hasNext && ch.next.newChartBar ? ch.path->Previous() : ch.path->Bar());
            }
        }
    }
    for (Chart& ch : charts) {
        if (!ch.ended && !broker.Emptied()) endChart(ch);
    }
    outcome.lastCalibration = charts.back().advisor->ReadCalibration();
    outcome.emptied = broker.Emptied();
    outcome.endedAtMs = broker.Emptied() ? broker.EmptiedAtMs() : lastMs;

    // The test ends at the last modelled tick: the balance after the last close.
    monitor.OnEquity(lastMs, broker.Balance());
    monitor.Row(lastMs, broker, broker.Balance());
    outcome.figures = monitor.Result();
    outcome.ticks = ticks;
    bool firstChart = true;
    for (ChartOutcome& c : outcome.charts) {
        c.figures.Finish();
        ModellingQuality& q = outcome.quality;
        q.chartBars += c.quality.chartBars;
        q.realPath += c.quality.realPath;
        q.withHoles += c.quality.withHoles;
        q.fellBack += c.quality.fellBack;
        if (q.source.find(c.quality.source) == std::string::npos) {
            q.source += (q.source.empty() || c.quality.source.empty() ? "" : ", ") + c.quality.source;
        }
        outcome.chartBarsSeen += c.chartBarsSeen;
        outcome.firstBarTime = firstChart ? c.firstBarTime : std::min(outcome.firstBarTime, c.firstBarTime);
        outcome.lastBarTime = std::max(outcome.lastBarTime, c.lastBarTime);
        firstChart = false;
    }
    if (hooks.progress != nullptr) hooks.progress(hooks.progressContext, 1.0);
    return outcome;
}

}  // namespace torvik::tester
