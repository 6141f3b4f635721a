// The library keeps one engine record per process, shared by every chart of
// a terminal. Two charts, EURUSD and USDJPY from the bundled history, driven
// through the exports in one process: whole updates taking turns decide as
// two separate runs do; one chart's Rft and IniAll slipped in between the
// other's feed and its questions change that chart's decisions. This is why
// the expert advisor runs each update under a terminal-wide lock
// (mql4/Torvik.mqh).
#include "engine/exports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/engine_state.h"
#include "support/csv_bars.h"

namespace torvik {
namespace {

using namespace testing;

constexpr int32_t Window = 300;
constexpr size_t Stride = 4;  // an update at every 4th bar keeps the test short
constexpr int32_t PipMode = 4;  // both are quoted with a pip of ten points

struct Chart {
    Bars history;
    const char* symbol;
    int32_t digits;
    double point;
};

struct Decisions {
    int32_t close, open;
    double takeProfit, stopLoss;
    bool operator==(const Decisions&) const = default;
};

// Rft and IniAll for update k of a chart: the window ends k strides into the
// file, the position turns between none, a losing buy and a losing sell.
void Feed(const Chart& c, size_t k)
{
    const BarRecord* bars = c.history.data() + k * Stride;
    const double bid = bars[Window - 1].close;
    const size_t side = k % 3;
    const double open = side == 0 ? 0.0 : side == 1 ? bid + 300 * c.point : bid - 300 * c.point;
    ::Rft(Window, bars, Window, bars, Window, bars, Window, bid + 12 * c.point, bid, c.digits, c.point, open,
          side == 2 ? 1 : 0, PipMode);
    ::IniAll(c.symbol, "USD");
}

Decisions Ask() { return Decisions{::CloseSignal(), ::OpenSignal(), ::PoTP(), ::PoSL()}; }

size_t Updates(const Chart& a, const Chart& b)
{
    const size_t shorter = std::min(a.history.size(), b.history.size());
    return shorter < static_cast<size_t>(Window) ? 0 : (shorter - static_cast<size_t>(Window)) / Stride + 1;
}

class Interleaving : public ::testing::Test {
protected:
    void SetUp() override
    {
        engineState = EngineState{};
        eurusd = {ReadBarFile(BundledDataPath("EURUSD_H1.csv")), "EURUSD", 5, 0.00001};
        usdjpy = {ReadBarFile(BundledDataPath("USDJPY_H1.csv")), "USDJPY", 3, 0.001};
        updates = Updates(eurusd, usdjpy);
        ASSERT_GT(updates, 1000u) << "cannot read the bundled history in data/";
        for (const Chart* c : {&eurusd, &usdjpy}) {
            std::vector<Decisions>& alone = c == &eurusd ? eurusdAlone : usdjpyAlone;
            ::rews();
            for (size_t k = 0; k < updates; ++k) {
                Feed(*c, k);
                alone.push_back(Ask());
            }
        }
        ::rews();
    }
    void TearDown() override { engineState = EngineState{}; }

    Chart eurusd, usdjpy;
    size_t updates = 0;
    std::vector<Decisions> eurusdAlone, usdjpyAlone;
};

TEST_F(Interleaving, WholeUpdatesTakingTurnsDecideAsSeparateRuns)
{
    std::vector<Decisions> a, b;
    for (size_t k = 0; k < updates; ++k) {
        Feed(eurusd, k);
        a.push_back(Ask());
        Feed(usdjpy, k);
        b.push_back(Ask());
    }
    EXPECT_TRUE(a == eurusdAlone);
    EXPECT_TRUE(b == usdjpyAlone);
}

TEST_F(Interleaving, AnotherChartsFeedBetweenRftAndTheQuestionsChangesDecisions)
{
    std::vector<Decisions> a, b;
    for (size_t k = 0; k < updates; ++k) {
        Feed(eurusd, k);
        Feed(usdjpy, k);  // slipped in before EURUSD asks
        a.push_back(Ask());
        b.push_back(Ask());
    }
    size_t open = 0, close = 0, takeProfit = 0, stopLoss = 0;
    for (size_t k = 0; k < updates; ++k) {
        open += a[k].open != eurusdAlone[k].open ? 1 : 0;
        close += a[k].close != eurusdAlone[k].close ? 1 : 0;
        takeProfit += a[k].takeProfit != eurusdAlone[k].takeProfit ? 1 : 0;
        stopLoss += a[k].stopLoss != eurusdAlone[k].stopLoss ? 1 : 0;
    }
    std::printf("EURUSD with USDJPY's feed slipped in, of %zu updates: OpenSignal changed in %zu, CloseSignal in %zu, "
                "PoTP in %zu, PoSL in %zu\n",
                updates, open, close, takeProfit, stopLoss);
    EXPECT_GT(open + close, 0u);
    EXPECT_GT(takeProfit, 0u);
    // The chart whose feed came last reads its own data and decides as alone.
    EXPECT_TRUE(b == usdjpyAlone);
}

}  // namespace
}  // namespace torvik
