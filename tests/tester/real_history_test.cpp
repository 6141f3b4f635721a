// The real exports on the bundled history: nothing decided at a tick depends
// on a later price, and every trade is what the broker's rules give for the
// bars it lived through.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "tester/data/bar_file.h"
#include "tester/run/replay.h"

namespace torvik::tester {
namespace {

using testing::BundledFile;

TestSettings SettingsFor(const char* symbol, const BarData& data)
{
    TestSettings s;
    s.symbol = symbol;
    s.digits = data.digits;
    s.point = 1.0 / std::pow(10.0, data.digits);
    s.spreadPoints = DefaultSpreadPoints(data.digits);
    s.pipMode = DefaultPipMode(data.digits);
    s.conversion = std::strncmp(symbol, "USD", 3) == 0 ? Conversion::DivideByPrice : Conversion::Direct;
    return s;
}

uint64_t Hash(const void* data, size_t size, uint64_t h = 1469598103934665603ull)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// Everything the expert advisor saw and decided at one tick.
struct Decision {
    uint32_t time;
    int32_t tick;
    uint64_t window;  // hash of the bars handed to Rft
    double bid, ask, lots, takeProfit, stopLoss;
    int32_t closeSignal, openSignal, refusal;
    bool operator==(const Decision&) const = default;
};

class Recorder : public ReplayObserver {
public:
    void OnTick(const TickRecord& t) override
    {
        decisions.push_back(Decision{t.time, t.tick,
                                     Hash(t.bars, sizeof(BarRecord) * static_cast<size_t>(t.barCount)),
                                     t.quote.bid, t.quote.ask, t.lots, t.takeProfit, t.stopLoss, t.closeSignal,
                                     t.openSignal, t.refusal});
    }
    std::vector<Decision> decisions;
};

ReplayResult Record(std::span<const BarRecord> bars, const TestSettings& s, Recorder& recorder)
{
    ReplayHooks hooks;
    hooks.observer = &recorder;
    return Replay(bars, s, hooks);
}

// Changes every bar after `cut`, and in open mode also what bar `cut` does
// after its open, keeping every bar a valid one.
std::vector<BarRecord> AlterAfter(std::vector<BarRecord> bars, size_t cut, Model model)
{
    if (model == Model::Open) {
        BarRecord& b = bars[cut];
        b.close = b.open * 1.001;
        b.high = b.close * 1.002;
        b.low = b.open * 0.997;
        b.volume += 17;
    }
    for (size_t i = cut + 1; i < bars.size(); ++i) {
        BarRecord& b = bars[i];
        const double f = i % 2 == 0 ? 1.004 : 0.996;
        b.open *= f;
        b.low *= f * 0.999;
        b.high *= f * 1.001;
        b.close *= f;
        b.volume = b.volume * 2 + 1;
    }
    return bars;
}

TEST(RealHistory, NothingDecidedAtATickDependsOnALaterPrice)
{
    const BarData data = ReadBarFile(BundledFile("EURUSD_H1.csv"));
    const std::vector<BarRecord> bars(data.bars.begin(), data.bars.begin() + 4000);
    for (const Model model : {Model::Open, Model::Ohlc}) {
        SCOPED_TRACE(model == Model::Open ? "open" : "ohlc");
        TestSettings s = SettingsFor("EURUSD", data);
        s.model = model;
        Recorder original;
        const ReplayResult base = Record(bars, s, original);
        ASSERT_GT(base.trades.size(), 3u) << "the history should give trades to compare";

        const size_t perBar = model == Model::Open ? 1 : 4;
        for (const size_t cut : {size_t{1200}, size_t{2500}, size_t{3600}}) {
            SCOPED_TRACE(cut);
            Recorder altered;
            const ReplayResult other = Record(AlterAfter(bars, cut, model), s, altered);
            // Every tick up to the end of the cut bar: open mode has seen
            // only the cut bar's open, ohlc mode the whole bar.
            const size_t seen = (cut - base.firstBar + 1) * perBar;
            ASSERT_GT(altered.decisions.size(), seen);
            for (size_t i = 0; i < seen; ++i) {
                ASSERT_EQ(original.decisions[i], altered.decisions[i]) << "tick " << i;
            }
            // The alteration is seen from the next tick on.
            EXPECT_NE(original.decisions[seen].window, altered.decisions[seen].window);
            // The trades opened by then were opened alike.
            const uint32_t cutTime = bars[cut].time;
            size_t compared = 0;
            for (size_t i = 0; i < base.trades.size(); ++i) {
                const Trade& t = base.trades[i];
                if (t.openTime > cutTime) continue;
                const auto match = std::find_if(other.trades.begin(), other.trades.end(),
                                                [&](const Trade& u) { return u.ticket == t.ticket; });
                ASSERT_NE(match, other.trades.end());
                EXPECT_EQ(match->openTime, t.openTime);
                EXPECT_EQ(match->side, t.side);
                EXPECT_EQ(match->lots, t.lots);
                EXPECT_EQ(match->openPrice, t.openPrice);
                EXPECT_EQ(match->stopLoss, t.stopLoss);
                EXPECT_EQ(match->takeProfit, t.takeProfit);
                ++compared;
            }
            EXPECT_GT(compared, 0u);
        }
    }
}

// An independent look at every trade of a run: its balance, its profit from
// its prices, its fill against the bars it lived through.
void CheckTrades(const char* symbol, Model model)
{
    SCOPED_TRACE(symbol);
    const BarData data = ReadBarFile(BundledFile(std::string(symbol) + "_H1.csv"));
    TestSettings s = SettingsFor(symbol, data);
    s.model = model;
    const ReplayResult r = Replay(data.bars, s);
    ASSERT_GT(r.trades.size(), 0u);
    const double spread = s.spreadPoints * s.point;
    const double tolerance = s.point / 10.0;
    const auto barAt = [&](uint32_t time) {
        return *std::lower_bound(data.bars.begin(), data.bars.end(), time,
                                 [](const BarRecord& b, uint32_t t) { return b.time < t; });
    };
    double balance = s.deposit;
    for (const Trade& t : r.trades) {
        SCOPED_TRACE(t.ticket);
        const bool buy = t.side == Side::Buy;
        const double move = buy ? t.closePrice - t.openPrice : t.openPrice - t.closePrice;
        double profit = move * t.lots * static_cast<double>(s.contractSize);
        if (s.conversion == Conversion::DivideByPrice) profit /= t.closePrice;
        EXPECT_NEAR(t.profit, profit, 0.005 + 1e-9);
        balance += t.profit;
        EXPECT_NEAR(t.balance, balance, 1e-6);
        EXPECT_GT(t.lots, 0.0);
        EXPECT_LE(t.openTime, t.closeTime);

        const BarRecord opened = barAt(t.openTime);
        const BarRecord closed = barAt(t.closeTime);
        // Entries at a tick's bid (plus the spread for buys), inside the bar.
        const double entryBid = buy ? t.openPrice - spread : t.openPrice;
        EXPECT_GE(entryBid, opened.low - tolerance);
        EXPECT_LE(entryBid, opened.high + tolerance);
        if (model == Model::Open) EXPECT_NEAR(entryBid, opened.open, tolerance);
        // Exits at a bid inside the closing bar (the ask for sells).
        const double exitBid = buy ? t.closePrice : t.closePrice - spread;
        EXPECT_GE(exitBid, closed.low - tolerance);
        EXPECT_LE(exitBid, closed.high + tolerance);
        // A level fills at itself, or at the open when the price gapped past it.
        const double sign = buy ? 1.0 : -1.0;
        if (t.reason == CloseReason::TakeProfit) {
            EXPECT_GE(sign * (t.closePrice - t.takeProfit), -tolerance);
            if (std::fabs(t.closePrice - t.takeProfit) > tolerance) EXPECT_NEAR(exitBid, closed.open, tolerance);
        }
        if (t.reason == CloseReason::StopLoss) {
            EXPECT_LE(sign * (t.closePrice - t.stopLoss), tolerance);
            if (std::fabs(t.closePrice - t.stopLoss) > tolerance) EXPECT_NEAR(exitBid, closed.open, tolerance);
        }
    }
    EXPECT_NEAR(r.equity.back().balance, balance, 1e-6);
}

TEST(RealHistory, EveryTradeFollowsTheBrokerRules)
{
    CheckTrades("EURUSD", Model::Open);
    CheckTrades("USDJPY", Model::Open);
    CheckTrades("EURUSD", Model::Ohlc);
}

}  // namespace
}  // namespace torvik::tester
