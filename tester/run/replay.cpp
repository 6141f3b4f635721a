#include "tester/run/replay.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "tester/data/bar_file.h"
#include "tester/expert/bar_window.h"

namespace torvik::tester {

namespace {

constexpr const char* NoLotText = "LOT gave no positive finite lot";

struct TickPrices {
    double price[4];
    int32_t count;
};

// The ticks of one bar. In ohlc mode the price goes from the open to the
// nearer extreme (the low on a tie), to the other one, then to the close.
TickPrices TicksOf(const BarRecord& bar, Model model)
{
    if (model == Model::Open) return TickPrices{{bar.open, 0, 0, 0}, 1};
    const bool highFirst = bar.high - bar.open < bar.open - bar.low;
    return TickPrices{{bar.open, highFirst ? bar.high : bar.low, highFirst ? bar.low : bar.high, bar.close}, 4};
}

// The bars that get ticks: from the first one with a full window behind it
// (and inside the test range) to the last one inside the range. Empty when
// first > last.
struct TickRange {
    size_t first;
    size_t last;
};

TickRange TickRangeOf(std::span<const BarRecord> bars, const TestSettings& s)
{
    size_t first = static_cast<size_t>(s.window) - 1;
    while (first < bars.size() && bars[first].time < s.fromTime) ++first;
    size_t end = bars.size();
    while (end > first && bars[end - 1].time > s.toTime) --end;
    if (end == 0 || end <= first) return TickRange{1, 0};
    return TickRange{first, end - 1};
}

class Advisor {
public:
    Advisor(const TestSettings& s, const Library& lib, Account& account, ReplayResult& result)
        : s_(s), lib_(lib), account_(account), result_(result)
    {
    }

    // One tick: feed the library, act on its exit answer, feed it again if
    // anything closed, then act on its entry answer if there is room for
    // another position. Both questions are asked on every tick.
    TickRecord OnTick(const BarWindow& window, Quote q, uint32_t time, int32_t tick)
    {
        TickRecord r{time, tick, q, window.Data(), static_cast<int32_t>(window.Count()), -1, -1, 0.0, 0.0, 0.0, 0};
        Feed(r);
        r.closeSignal = lib_.closeSignal();
        CountAnswer(result_.closeAnswers, r.closeSignal);
        int32_t closed = 0;
        if (r.closeSignal == 1) closed = account_.CloseSide(Side::Buy, q, time, CloseReason::Signal);
        if (r.closeSignal == 2) closed = account_.CloseSide(Side::Sell, q, time, CloseReason::Signal);
        if (closed > 0) Feed(r);
        r.openSignal = lib_.openSignal();
        CountAnswer(result_.openAnswers, r.openSignal);
        const bool room = static_cast<int64_t>(account_.Positions().size()) < s_.maxPositions;
        if (room && (r.openSignal == 1 || r.openSignal == 2)) Enter(r.openSignal == 1 ? Side::Buy : Side::Sell, r);
        return r;
    }

    Calibration ReadCalibration() const
    {
        return Calibration{lib_.takeProfit(), lib_.stopLoss(), lib_.pipSize(), lib_.dsp(),
                           lib_.dcloseSp(),   lib_.hhh1(),     lib_.hhh2()};
    }

private:
    static void CountAnswer(uint64_t (&answers)[3], int32_t answer)
    {
        if (answer >= 0 && answer <= 2) ++answers[answer];
    }

    void Feed(const TickRecord& r)
    {
        const Position* newest = account_.Newest();
        const double openPrice = newest != nullptr ? newest->openPrice : 0.0;
        const int32_t type = newest != nullptr && newest->side == Side::Sell ? 1 : 0;
        lib_.rft(r.barCount, r.bars, r.barCount, r.bars, r.barCount, r.bars, r.barCount, r.quote.ask, r.quote.bid,
                 s_.digits, s_.point, openPrice, type, s_.pipMode);
        lib_.iniAll(s_.symbol.c_str(), s_.currency.c_str());
    }

    void Enter(Side side, TickRecord& r)
    {
        const bool buy = side == Side::Buy;
        const double price = buy ? r.quote.ask : r.quote.bid;
        r.lots = lib_.lot(s_.fixedLot, s_.riskPercent, s_.riskMultiplier, s_.minLot, s_.maxLot, s_.lotStep,
                          static_cast<int32_t>(s_.contractSize), account_.FreeMargin(r.quote),
                          account_.MarginPerLot(price), s_.riskSplit, s_.symbol.c_str());
        if (!(std::isfinite(r.lots) && r.lots > 0.0)) {
            Refuse(r, side, 0, NoLotText);
            return;
        }
        const double tpDistance = lib_.takeProfit();
        const double slDistance = lib_.stopLoss();
        r.takeProfit = tpDistance > 0.0 ? account_.Normalize(buy ? price + tpDistance : price - tpDistance) : 0.0;
        r.stopLoss = slDistance > 0.0 ? account_.Normalize(buy ? price - slDistance : price + slDistance) : 0.0;
        const int32_t code = account_.Open(side, r.lots, r.stopLoss, r.takeProfit, r.quote, r.time);
        if (code != 0) Refuse(r, side, code, lib_.errorDescription(code));
    }

    void Refuse(TickRecord& r, Side side, int32_t code, const char* text)
    {
        r.refusal = code == 0 ? -1 : code;
        ++result_.refusalCount;
        if (result_.refusals.size() < MaxListedRefusals) {
            result_.refusals.push_back(Refusal{r.time, side, r.lots, code, text != nullptr ? text : ""});
        }
    }

    const TestSettings& s_;
    const Library& lib_;
    Account& account_;
    ReplayResult& result_;
};

}  // namespace

void ValidateReplay(std::span<const BarRecord> bars, const TestSettings& s)
{
    if (s.window < MinWindow || s.window > MaxWindow) {
        throw TesterError(fmt::format("the window is {} bars; it must be {} to {}", s.window, MinWindow, MaxWindow));
    }
    if (bars.size() < static_cast<size_t>(s.window)) {
        throw TesterError(fmt::format("the history has {} bars, fewer than the window of {}: nothing to test",
                                      bars.size(), s.window));
    }
    const TickRange range = TickRangeOf(bars, s);
    if (range.first > range.last) throw TesterError("no bar of the test range has a full window of history before it");
    if (s.symbol.empty()) throw TesterError("no symbol");
    if (s.digits < 0 || s.digits > 8) throw TesterError(fmt::format("digits {} outside 0 to 8", s.digits));
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

ReplayResult Replay(std::span<const BarRecord> bars, const TestSettings& s, const ReplayHooks& hooks)
{
    ValidateReplay(bars, s);
    const Library& lib = hooks.library != nullptr ? *hooks.library : Exports();
    const TickRange range = TickRangeOf(bars, s);
    const int32_t ticksPerBar = s.model == Model::Open ? 1 : 4;

    ReplayResult result;
    result.firstBar = range.first;
    result.lastBar = range.last;
    const size_t barsTested = range.last - range.first + 1;
    result.equity.reserve(barsTested * static_cast<size_t>(ticksPerBar) + 1);

    // The expert advisor starts on a library in its initial state.
    lib.reset();
    Account account(s);
    Advisor advisor(s, lib, account, result);
    BarWindow window(static_cast<size_t>(s.window));
    for (size_t b = range.first + 1 - static_cast<size_t>(s.window); b < range.first; ++b) window.Push(bars[b]);

    const size_t progressStep = std::max<size_t>(1, barsTested / 200);
    Quote last{bars[range.first].open, bars[range.first].open};
    for (size_t b = range.first; b <= range.last; ++b) {
        const BarRecord& bar = bars[b];
        const TickPrices ticks = TicksOf(bar, s.model);
        // The forming bar: only what has been seen of it so far.
        window.Push(BarRecord{bar.time, bar.open, bar.open, bar.open, bar.open, 1.0});
        BarRecord& forming = window.Newest();
        for (int32_t k = 0; k < ticks.count; ++k) {
            const double price = ticks.price[k];
            // Fields of the packed record are read by value, never bound to a reference.
            if (price < forming.low) forming.low = price;
            if (price > forming.high) forming.high = price;
            forming.close = price;
            forming.volume = static_cast<double>(k + 1);

            const Quote q = account.QuoteAt(price);
            account.FillAtTick(q, bar.time, k == 0);
            account.CheckStopOut(q, bar.time);
            const TickRecord record = advisor.OnTick(window, q, bar.time, k);
            if (b == range.first && k == 0) result.firstCalibration = advisor.ReadCalibration();
            if (hooks.observer != nullptr) hooks.observer->OnTick(record);

            result.equity.push_back(EquityPoint{bar.time, static_cast<uint8_t>(k),
                                                static_cast<int32_t>(account.Positions().size()), q.bid,
                                                account.Balance(), account.Equity(q), account.Margin()});
            last = q;
        }
        if (s.model == Model::Open) account.FillWithinBar(bar.low, bar.high, bar.time);
        forming = bar;
        if (hooks.progress != nullptr && ((b - range.first + 1) % progressStep == 0 || b == range.last)) {
            hooks.progress(hooks.progressContext, b - range.first + 1, barsTested);
        }
    }
    result.lastCalibration = advisor.ReadCalibration();
    result.ticks = static_cast<uint64_t>(barsTested) * static_cast<uint64_t>(ticksPerBar);

    // The test ends at the last bar's close; what is still open closes there.
    const BarRecord& lastBar = bars[range.last];
    last = account.QuoteAt(lastBar.close);
    account.CloseAll(last, lastBar.time, CloseReason::EndOfTest);
    result.equity.push_back(EquityPoint{lastBar.time, static_cast<uint8_t>(ticksPerBar), 0, last.bid,
                                        account.Balance(), account.Balance(), 0.0});
    result.trades = account.TakeTrades();
    return result;
}

}  // namespace torvik::tester
