#include "signals/reference/exit_signal.h"

#include <gtest/gtest.h>

#include <cmath>

#include "calibration/calibration.h"
#include "signals/entry_signal.h"
#include "signals/reference/kernels.h"
#include "support/fixtures.h"

namespace torvik {
namespace {

using namespace testing;

double Up(double x) { return std::nextafter(x, 1e300); }

// A position open at 1.25 with binary-exact distances: loss 0.5, profit
// 0.125, tolerance 0.0625. Neither rule holds until a test sets one up.
struct ExitCase {
    EngineState s{};
    ExitInputs in{};
    ExitCase()
    {
        s.hasPosition = 1;
        s.positionOpenPrice = 1.25;
        s.pipTolerance = 0.0625;
        s.wprBuyLevel3 = -8;
        s.wprSellLevel3 = -92;
        s.bidPrice = 1.25;
        s.askPrice = 1.25;
        s.refPrevOpen = 1.0;
        s.refPrevClose = 1.0;
        in.wprB = -50.0;
        in.c1 = 1.25;
        in.lossDist = 0.5;
        in.profitDist = 0.125;
    }
};

TEST(CheckBuyExit, ProfitRuleNeedsADownBarAndTheFullDistance)
{
    ExitCase c;
    c.s.refPrevClose = 0.75;                // the reference bar closed down
    c.s.bidPrice = 1.25 + 0.125;            // exactly profitDist in profit at the bid
    c.s.askPrice = c.s.bidPrice;
    c.in.c1 = c.s.bidPrice;
    EXPECT_TRUE(CheckBuyExit(c.s, c.in));
    c.s.refPrevClose = c.s.refPrevOpen;     // a flat reference bar
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));
    c.s.refPrevClose = 0.75;
    c.s.bidPrice = std::nextafter(1.375, 0.0);
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));
}

TEST(CheckBuyExit, ReversalRuleBounds)
{
    ExitCase c;
    c.in.wprB = -7.0;  // above the overbought level
    c.s.bidPrice = 1.25 - 0.5;  // exactly lossDist in loss still counts
    c.in.c1 = c.s.bidPrice;
    EXPECT_TRUE(CheckBuyExit(c.s, c.in));
    c.s.bidPrice = std::nextafter(0.75, 0.0);  // one unit deeper does not
    c.in.c1 = c.s.bidPrice;
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));

    c = ExitCase{};
    c.in.wprB = -8.0;  // equal to the level: not overbought
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));
    c.in.wprB = Up(-8.0);
    EXPECT_TRUE(CheckBuyExit(c.s, c.in));

    c.in.c1 = 1.25 + 0.0625;  // the bid exactly the tolerance below the close
    EXPECT_TRUE(CheckBuyExit(c.s, c.in));
    c.in.c1 = Up(1.3125);
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));
}

TEST(CheckSellExit, MirrorsTheBuySideWithTheAsk)
{
    ExitCase c;
    c.s.refPrevClose = 1.5;             // the reference bar closed up
    c.s.askPrice = 1.25 - 0.125;        // exactly profitDist in profit at the ask
    c.in.c1 = c.s.askPrice;
    EXPECT_TRUE(CheckSellExit(c.s, c.in));
    c.s.refPrevClose = 1.0;
    EXPECT_FALSE(CheckSellExit(c.s, c.in));

    c = ExitCase{};
    c.in.wprB = -93.0;                  // below the oversold level
    c.s.askPrice = 1.25 + 0.5;          // exactly lossDist in loss
    c.in.c1 = c.s.askPrice;
    EXPECT_TRUE(CheckSellExit(c.s, c.in));
    c.s.askPrice = Up(1.75);
    c.in.c1 = c.s.askPrice;
    EXPECT_FALSE(CheckSellExit(c.s, c.in));
    c = ExitCase{};
    c.in.wprB = -92.0;
    EXPECT_FALSE(CheckSellExit(c.s, c.in));
    c.in.wprB = -93.0;
    c.in.c1 = 1.25 - 0.0625;            // the ask exactly the tolerance above the close
    EXPECT_TRUE(CheckSellExit(c.s, c.in));
    c.in.c1 = std::nextafter(1.1875, 0.0);
    EXPECT_FALSE(CheckSellExit(c.s, c.in));
}

TEST(CheckExits, NeedAnOpenPosition)
{
    ExitCase c;
    c.in.wprB = -95.0;
    c.s.refPrevClose = 1.5;
    c.s.askPrice = 1.0;
    c.s.bidPrice = 1.5;
    c.s.hasPosition = 0;
    EXPECT_FALSE(CheckBuyExit(c.s, c.in));
    EXPECT_FALSE(CheckSellExit(c.s, c.in));
    c.s.hasPosition = 1;
    EXPECT_TRUE(CheckSellExit(c.s, c.in));
}

enum class ReferenceBar { Up, Down, Flat };

// A real record: the dip-in-uptrend bars calibrated for EURUSD, a spread of
// five points, the position the test sets, and a reference array whose
// second-newest bar closed up, down or flat.
EngineState Fed(double open, int32_t type, double bid, ReferenceBar refBar)
{
    const Bars bars = WithFormingBar(DipInUptrend(), bid);
    Bars ref = bars;
    BarRecord& prev = ref[ref.size() - 2];
    prev.close = prev.open + (refBar == ReferenceBar::Up ? 0.001 : refBar == ReferenceBar::Down ? -0.001 : 0.0);
    EngineState s{};
    const int32_t n = static_cast<int32_t>(bars.size());
    const BarIngestion in{n, ref.data(), n, bars.data(), n, bars.data(), n, bid + 0.00005, bid, 5, 0.00001,
                          open, type, 4};
    Rft(s, in);
    IniAll(s, "EURUSD", "USD");
    return s;
}

TEST(CloseSignal, TheSideOfThePositionIsNeverConsulted)
{
    const double bid = LastClose(DipInUptrend());
    // A buy 30 pips above the price: in loss for the buy, but the sell's
    // profit rule sees 30 pips of profit at the ask after an up bar.
    EngineState s = Fed(bid + 0.0030, 0, bid, ReferenceBar::Up);
    EXPECT_EQ(s.positionSide, 1);
    EXPECT_EQ(reference::CloseSignal(s), SignalSell);
    // The %R of the dip sits at -100, below the sell level -92: the sell
    // reversal rule holds too, whatever the reference bar did.
    EngineState t = Fed(bid - 0.0001, 1, bid, ReferenceBar::Down);
    EXPECT_TRUE(reference::CheckSellExit(t));
    EXPECT_EQ(reference::CloseSignal(t), SignalSell);
    EngineState none = Fed(0.0, 0, bid, ReferenceBar::Up);
    EXPECT_EQ(reference::CloseSignal(none), SignalNone);
}

TEST(CloseSignal, BothSidesHoldingAnswerSell)
{
    ExitCase c;
    c.in.wprB = -50.0;
    c.s.wprBuyLevel3 = -60;   // overbought for the buy
    c.s.wprSellLevel3 = -40;  // oversold for the sell
    EXPECT_TRUE(CheckBuyExit(c.s, c.in));
    EXPECT_TRUE(CheckSellExit(c.s, c.in));
    // CloseSignal on a record whose own %R gives those answers.
    EngineState s = Fed(1.0, 0, LastClose(DipInUptrend()), ReferenceBar::Flat);
    s.wprBuyLevel3 = -101;
    s.wprSellLevel3 = 1;
    s.closeLossPips = -100000;
    ASSERT_TRUE(reference::CheckBuyExit(s));
    ASSERT_TRUE(reference::CheckSellExit(s));
    EXPECT_EQ(reference::CloseSignal(s), SignalSell);
}

TEST(CloseSignal, TooFewBarsReadTheMarketAsOverbought)
{
    // %R is 0.0 when L <= W: the buy reversal holds below level 0, and the
    // sell reversal cannot hold above -100.
    const Bars few = Trend(10, 1.2, 0.0001, 0.0002);
    EngineState s{};
    Feed(s, few, Market{1.2009, 1.2010, 5, 0.00001, 1.2011, 0, 4});
    s.wprPeriod2 = 17;
    s.wprBuyLevel3 = -8;
    s.wprSellLevel3 = -92;
    s.closeLossPips = -50;
    s.closeProfitPips = 20;
    s.pipSize = 0.0001;
    s.pipDigits = 4;
    s.pipTolerance = 0.00009;
    EXPECT_EQ(reference::ComputeWilliamsR(s, 17), 0.0);
    EXPECT_TRUE(reference::CheckBuyExit(s));
    EXPECT_FALSE(reference::CheckSellExit(s));
    EXPECT_EQ(reference::CloseSignal(s), SignalBuy);
}

}  // namespace
}  // namespace torvik
