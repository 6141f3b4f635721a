#include "signals/reference/entry_signal.h"

#include <gtest/gtest.h>

#include <cmath>

#include "calibration/calibration.h"
#include "engine/rounding.h"
#include "support/fixtures.h"

namespace torvik {
namespace {

using namespace testing;

double Up(double x) { return std::nextafter(x, 1e300); }
double Down(double x) { return std::nextafter(x, -1e300); }

EngineState WithPip(double pipSize, int32_t pipDigits)
{
    EngineState s{};
    s.pipSize = pipSize;
    s.pipDigits = pipDigits;
    return s;
}

TEST(UpdateEntryPermissions, PyramidOnlyTwentyPipsBeyondTheOpenPrice)
{
    EngineState s = WithPip(0.0001, 4);
    const double d20 = RoundToDigits(20 * 0.0001, 4);

    s.positionSide = 0;
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.buyEntryAllowed, 1);
    EXPECT_EQ(s.sellEntryAllowed, 1);

    // A buy open at P: a new buy once the ask is at most P - 20 pips.
    s = WithPip(0.0001, 4);
    s.positionSide = 1;
    s.askPrice = 1.25;
    s.positionOpenPrice = 1.25 + d20;
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.buyEntryAllowed, 1);
    EXPECT_EQ(s.sellEntryAllowed, 0);
    s.buyEntryAllowed = 0;
    s.positionOpenPrice = Down(1.25 + d20);
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.buyEntryAllowed, 0);

    // A sell open at P: a new sell once the bid is at least P + 20 pips.
    s = WithPip(0.0001, 4);
    s.positionSide = 2;
    s.bidPrice = 1.5;
    s.positionOpenPrice = 1.5 - d20;
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.sellEntryAllowed, 1);
    EXPECT_EQ(s.buyEntryAllowed, 0);
    s.sellEntryAllowed = 0;
    s.positionOpenPrice = Up(1.5 - d20);
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.sellEntryAllowed, 0);

    // A side without an open price counts as no position.
    s = WithPip(0.0001, 4);
    s.positionSide = 1;
    UpdateEntryPermissions(s);
    EXPECT_EQ(s.buyEntryAllowed, 1);
    EXPECT_EQ(s.sellEntryAllowed, 1);
}

// Inputs whose votes the comments spell out element by element.
IchimokuScoreInputs Ordered(double c, double t, double b, double spanA, double spanB)
{
    IchimokuScoreInputs in{};
    in.close = c;
    in.t = t;
    in.b = b;
    in.spanA = spanA;
    in.spanB = spanB;
    return in;
}

void SetFree(IchimokuScoreInputs& in, double ahead, double lagVsClose, double lagVsA, double lagVsB, double lagVsT,
             double lagVsBase)
{
    // Each argument > 0 votes up, < 0 down, 0 casts no vote.
    in.lagging = 10.0;
    in.spanAAhead = 5.0 + ahead;
    in.spanBAhead = 5.0;
    in.close32 = 10.0 - lagVsClose;
    in.spanA32 = 10.0 - lagVsA;
    in.spanB32 = 10.0 - lagVsB;
    in.t32 = 10.0 - lagVsT;
    in.b32 = 10.0 - lagVsBase;
}

TEST(ScoreIchimoku, CountsVotesAndTiesGiveNothing)
{
    // c > t > b > span A > span B: all nine ordering elements vote up.
    IchimokuScoreInputs bullish = Ordered(5, 4, 3, 2, 1);
    SetFree(bullish, 1, 1, 1, 1, 1, 1);
    // c < t < b < span A < span B: all nine vote down.
    IchimokuScoreInputs bearish = Ordered(1, 2, 3, 4, 5);
    SetFree(bearish, -1, -1, -1, -1, -1, -1);
    IchimokuScoreInputs flat = Ordered(1, 1, 1, 1, 1);
    SetFree(flat, 0, 0, 0, 0, 0, 0);
    // t=1 b=2 A=3 B=4 c=5: up on 2, 3, 9, 10; down on 0, 5, 6, 7, 8.
    IchimokuScoreInputs sevenEach = Ordered(5, 1, 2, 3, 4);
    SetFree(sevenEach, 0, 1, 1, 1, -1, -1);
    IchimokuScoreInputs sixUpEightDown = Ordered(5, 1, 2, 3, 4);
    SetFree(sixUpEightDown, -1, 1, 1, -1, -1, 0);
    IchimokuScoreInputs thirteen = Ordered(5, 4, 3, 2, 1);
    SetFree(thirteen, 0, 1, 1, 1, 1, 0);
    IchimokuScoreInputs nineAgainstSix = Ordered(5, 4, 3, 2, 1);
    SetFree(nineAgainstSix, -1, -1, -1, -1, -1, -1);

    EXPECT_EQ(ScoreIchimoku(bullish), 15);
    EXPECT_EQ(ScoreIchimoku(bearish), -15);
    EXPECT_EQ(ScoreIchimoku(flat), 0);
    EXPECT_EQ(ScoreIchimoku(sevenEach), 0);
    EXPECT_EQ(ScoreIchimoku(sixUpEightDown), -8);
    EXPECT_EQ(ScoreIchimoku(thirteen), 13);
    EXPECT_EQ(ScoreIchimoku(nineAgainstSix), 9);
}

TEST(ComputeIchimokuScore, FewerThanNinetyEightBarsScoreFour)
{
    // All lines are 0: closes above them vote up on 2, 3, 9, 10, element 4 down.
    EngineState s{};
    Feed(s, Trend(97, 1.1, 0.0001, 0.0002), Market{1.2, 1.2, 5, 0.00001, 0, 0, 4});
    EXPECT_EQ(reference::ComputeIchimokuScore(s, 0), 4);
    EXPECT_EQ(reference::ComputeIchimokuScore(s, 1), 4);
}

TEST(DecideEntry, RuleSetFollowsTheProfileFlag)
{
    const struct {
        int32_t profile;
        bool buy, sell;
        int32_t now, prev, expected;
    } cases[] = {
        {0, true, false, 13, 12, 1},  {0, true, false, 13, -5, 1},  {0, true, false, 13, 13, 0},
        {0, true, false, 12, 11, 0},  {0, true, false, 15, 14, 1},  {0, false, true, -13, -12, 2},
        {0, false, true, -13, -13, 0}, {0, false, true, -12, -15, 0}, {0, true, true, 13, 12, 1},
        {0, true, true, -13, 0, 2},   {0, false, false, 15, 0, 0},  {1, true, false, -15, 15, 1},
        {1, false, true, 15, -15, 2}, {1, true, true, 0, 0, 2},     {1, false, false, 15, 0, 0},
        {2, true, true, 15, 0, 0},    {-1, true, false, 15, 0, 0},
    };
    for (const auto& c : cases) {
        EngineState s{};
        s.profileMatched = c.profile;
        s.buyEntryAllowed = 1;
        s.sellEntryAllowed = 1;
        EXPECT_EQ(DecideEntry(s, c.buy, c.sell, c.now, c.prev), c.expected)
            << c.profile << " " << c.buy << c.sell << " " << c.now << "/" << c.prev;
    }
    EngineState s{};
    s.profileMatched = 1;
    s.buyEntryAllowed = 0;
    s.sellEntryAllowed = 1;
    EXPECT_EQ(DecideEntry(s, true, false, 0, 0), 0);  // the test holds, the position forbids it
}

// A state with binary-exact distances, so the boundaries are met exactly.
struct EntryCase {
    EngineState s{};
    EntryInputs in{};
    EntryCase()
    {
        s.pipSize = 0.25;
        s.pipTolerance = 0.125;
        s.minAtrPips = 3;  // 0.75 in price
        s.cciLevel = 100;
        s.wprBuyLevel1 = -97;
        s.wprBuyLevel2 = -82;
        s.wprBuyLevel3 = -8;
        s.wprSellLevel1 = -3;
        s.wprSellLevel2 = -18;
        s.wprSellLevel3 = -92;
        s.bidPrice = 1.5;
        in.c1 = 1.5;
        in.average = 1.0;
        in.atr = 1.0;
        in.gap1 = 0.25;
        in.gap2 = 0.75;  // d = 0.5 lies between the two gaps
        in.cci = 0.0;
        in.wprA = -98.0;
        in.wprB = -98.0;
    }
};

TEST(CheckBuyEntry, BoundariesOfEachCondition)
{
    EntryCase base;
    EXPECT_TRUE(CheckBuyEntry(base.s, base.in));

    EntryCase c = base;
    c.in.atr = 0.75;  // the average true range must be strictly above the minimum
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));
    c.in.atr = Up(0.75);
    EXPECT_TRUE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.in.average = 1.25;  // d equal to gap1 fails r1, and is below gap2
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.in.wprA = -97.0;  // equal to level 1 fails r1
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));
    c.in.average = 0.5;  // d beyond gap2: r3 holds with wA below level 2
    EXPECT_TRUE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.in.wprB = -8.0;  // equal to level 3 passes the last step
    EXPECT_TRUE(CheckBuyEntry(c.s, c.in));
    c.in.wprB = Up(-8.0);
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.s.bidPrice = 1.5 + 0.125;  // the bid exactly 0.9 pip above the close is still near
    EXPECT_TRUE(CheckBuyEntry(c.s, c.in));
    c.s.bidPrice = Up(1.625);
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.in.wprA = -50.0;  // r2: the CCI below -cciLevel with d beyond gap2
    c.in.average = 0.5;
    c.in.cci = -100.0;
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));
    c.in.cci = Down(-100.0);
    EXPECT_TRUE(CheckBuyEntry(c.s, c.in));

    c = base;
    c.s.minAtrPips = 0;
    c.in.atr = 0.0;  // a zero average true range never passes the gate
    EXPECT_FALSE(CheckBuyEntry(c.s, c.in));
}

TEST(CheckSellEntry, BoundariesOfEachCondition)
{
    EntryCase base;
    base.in.c1 = 1.0;
    base.in.average = 1.5;
    base.s.bidPrice = 1.0;
    base.in.wprA = -2.0;
    base.in.wprB = -2.0;
    EXPECT_TRUE(CheckSellEntry(base.s, base.in));
    EXPECT_FALSE(CheckBuyEntry(base.s, base.in));

    EntryCase c = base;
    c.in.atr = 0.75;
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));

    c = base;
    c.in.average = 1.25;  // d equal to gap1
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));

    c = base;
    c.in.wprA = -3.0;  // equal to sell level 1
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));
    c.in.average = 2.0;  // d beyond gap2: r3 holds with wA above sell level 2
    EXPECT_TRUE(CheckSellEntry(c.s, c.in));

    c = base;
    c.in.wprB = -92.0;  // equal to sell level 3 passes
    EXPECT_TRUE(CheckSellEntry(c.s, c.in));
    c.in.wprB = Down(-92.0);
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));

    c = base;
    c.s.bidPrice = 1.0 - 0.125;  // the bid exactly 0.9 pip below the close is near
    EXPECT_TRUE(CheckSellEntry(c.s, c.in));
    c.s.bidPrice = Down(0.875);
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));

    c = base;
    c.in.wprA = -50.0;
    c.in.average = 2.0;
    c.in.cci = 100.0;
    EXPECT_FALSE(CheckSellEntry(c.s, c.in));
    c.in.cci = Up(100.0);
    EXPECT_TRUE(CheckSellEntry(c.s, c.in));
}

EngineState Calibrated(const Bars& bars, const char* symbol, double positionOpenPrice = 0.0, int32_t type = 0,
                       double bid = 0.0)
{
    EngineState s{};
    const double price = bid != 0.0 ? bid : bars.back().close;
    Feed(s, bars, Market{price, price + 0.00012, 5, 0.00001, positionOpenPrice, type, 4});
    IniAll(s, symbol, "USD");
    return s;
}

TEST(OpenSignal, DipInAnUptrendBuysWithAProfile)
{
    const Bars bars = WithFormingBar(DipInUptrend(), LastClose(DipInUptrend()));
    EngineState s = Calibrated(bars, "EURUSD");
    EXPECT_EQ(reference::OpenSignal(s), SignalBuy);
    EXPECT_EQ(reference::OpenSignal(s), SignalBuy);  // unchanged state, unchanged answer
    // Without a profile the Ichimoku score must agree, and a dip does not.
    EngineState plain = Calibrated(bars, "XAGEUR");
    EXPECT_EQ(plain.profileMatched, 0);
    EXPECT_EQ(reference::OpenSignal(plain), SignalNone);
}

TEST(OpenSignal, RallyInADowntrendSellsWithAProfile)
{
    const Bars bars = WithFormingBar(RallyInDowntrend(), LastClose(RallyInDowntrend()));
    EngineState s = Calibrated(bars, "EURUSD");
    EXPECT_EQ(reference::OpenSignal(s), SignalSell);
}

TEST(OpenSignal, AnOpenBuyAllowsAnotherOnlyTwentyPipsLower)
{
    const Bars dip = DipInUptrend();
    const double c1 = LastClose(dip);
    const Bars bars = WithFormingBar(dip, c1);
    const double ask = c1 + 0.00012;
    EngineState near = Calibrated(bars, "EURUSD", ask + 0.0019, 0);
    EXPECT_EQ(reference::OpenSignal(near), SignalNone);
    EXPECT_EQ(near.buyEntryAllowed, 0);
    EngineState far = Calibrated(bars, "EURUSD", ask + 0.0021, 0);
    EXPECT_EQ(reference::OpenSignal(far), SignalBuy);
    // An open sell forbids new buys at any distance.
    EngineState sell = Calibrated(bars, "EURUSD", 1.0, 1);
    EXPECT_EQ(reference::OpenSignal(sell), SignalNone);
}

TEST(OpenSignal, FlagsAreRebuiltOnEveryCall)
{
    const Bars bars = WithFormingBar(DipInUptrend(), LastClose(DipInUptrend()));
    EngineState s = Calibrated(bars, "EURUSD", 2.0, 1);  // a sell far above: sells allowed
    reference::OpenSignal(s);
    EXPECT_EQ(s.buyEntryAllowed, 0);
    EXPECT_EQ(s.sellEntryAllowed, 0);  // 2.0 is not below the bid: no pyramid
    s.positionSide = 0;
    s.positionOpenPrice = 0.0;
    EXPECT_EQ(reference::OpenSignal(s), SignalBuy);
    EXPECT_EQ(s.sellEntryAllowed, 1);
}

TEST(OpenSignal, OtherProfileValuesNeverEnter)
{
    const Bars bars = WithFormingBar(DipInUptrend(), LastClose(DipInUptrend()));
    EngineState s = Calibrated(bars, "EURUSD");
    s.profileMatched = 2;
    EXPECT_EQ(reference::OpenSignal(s), SignalNone);
    EXPECT_EQ(s.buyEntryAllowed, 1);  // the permissions still ran
}

TEST(OpenSignal, UncalibratedOrTooFewBarsNeverEnter)
{
    const Bars bars = WithFormingBar(DipInUptrend(), LastClose(DipInUptrend()));
    EngineState s{};
    Feed(s, bars, Market{1.2, 1.2, 5, 0.00001, 0, 0, 4});
    EXPECT_EQ(reference::OpenSignal(s), SignalNone);
    // Fewer bars than the true-range period: its average is 0 and the gate refuses.
    EngineState few = Calibrated(Bars(bars.end() - 14, bars.end()), "EURUSD");
    EXPECT_EQ(reference::OpenSignal(few), SignalNone);
}

}  // namespace
}  // namespace torvik
