#include "signals/entry_signal.h"

#include "engine/rounding.h"
#include "signals/ichimoku.h"
#include "signals/kernels.h"

namespace torvik {

namespace {

constexpr int32_t VoteNone = 0;
constexpr int32_t VoteUp = 1;
constexpr int32_t VoteDown = 2;

int32_t Vote(bool up, bool down) { return up ? VoteUp : (down ? VoteDown : VoteNone); }
// Strict on both sides: equal values cast no vote.
int32_t VoteAbove(double a, double b) { return Vote(a > b, a < b); }

}  // namespace

double PipsToPrice(const EngineState& s, int32_t pips)
{
    return RoundToDigits(static_cast<double>(pips) * s.pipSize, s.pipDigits);
}

void UpdateEntryPermissions(EngineState& s)
{
    const double open = s.positionOpenPrice;
    const double d20 = PipsToPrice(s, PyramidDistancePips);
    if (s.positionSide == 1 && open > 0.0) {
        if (open >= s.askPrice + d20) s.buyEntryAllowed = 1;
    } else if (s.positionSide == 2 && open > 0.0) {
        if (open <= s.bidPrice - d20) s.sellEntryAllowed = 1;
    } else {
        s.buyEntryAllowed = 1;
        s.sellEntryAllowed = 1;
    }
}

bool BeginEntryDecision(EngineState& s)
{
    s.buyEntryAllowed = 0;
    s.sellEntryAllowed = 0;
    UpdateEntryPermissions(s);
    return s.profileMatched == 0 || s.profileMatched == 1;
}

int32_t ScoreIchimoku(const IchimokuScoreInputs& in)
{
    const int32_t votes[ScoreVoteCount] = {
        VoteAbove(in.t, in.b),
        VoteAbove(in.spanAAhead, in.spanBAhead),
        VoteAbove(in.close, in.spanA),
        VoteAbove(in.close, in.spanB),
        VoteAbove(in.lagging, in.close32),
        VoteAbove(in.t, in.spanA),
        VoteAbove(in.b, in.spanA),
        VoteAbove(in.t, in.spanB),
        VoteAbove(in.b, in.spanB),
        VoteAbove(in.close, in.t),  // a line below the close is bullish
        VoteAbove(in.close, in.b),
        VoteAbove(in.lagging, in.spanA32),
        VoteAbove(in.lagging, in.spanB32),
        VoteAbove(in.lagging, in.t32),
        VoteAbove(in.lagging, in.b32),
    };
    int32_t up = 0;
    int32_t down = 0;
    for (const int32_t v : votes) {
        if (v == VoteUp) ++up;
        if (v == VoteDown) ++down;
    }
    if (up > down) return up;
    if (down > up) return -down;
    return 0;
}

bool VolatilityAllowsEntry(const EngineState& s, double atr)
{
    return !(static_cast<double>(s.minAtrPips) * s.pipSize >= atr);
}

bool BuyQuoteNear(const EngineState& s, double c1) { return c1 - s.bidPrice >= -s.pipTolerance; }

bool SellQuoteNear(const EngineState& s, double c1) { return c1 - s.bidPrice <= s.pipTolerance; }

bool CheckBuyEntry(const EngineState& s, const EntryInputs& in)
{
    if (!VolatilityAllowsEntry(s, in.atr)) return false;
    const double d = in.c1 - in.average;
    const bool near = BuyQuoteNear(s, in.c1);
    const bool r1 = d > in.gap1 && near && in.wprA < s.wprBuyLevel1;
    const bool r2 = d > in.gap2 && near && in.cci < -static_cast<double>(s.cciLevel);
    const bool r3 = d > in.gap2 && near && in.wprA < s.wprBuyLevel2;
    return (r1 || r2 || r3) && in.wprB <= s.wprBuyLevel3;
}

bool CheckSellEntry(const EngineState& s, const EntryInputs& in)
{
    if (!VolatilityAllowsEntry(s, in.atr)) return false;
    const double d = in.average - in.c1;
    const bool near = SellQuoteNear(s, in.c1);
    const bool r1 = d > in.gap1 && near && in.wprA > s.wprSellLevel1;
    const bool r2 = d > in.gap2 && near && in.cci > static_cast<double>(s.cciLevel);
    const bool r3 = d > in.gap2 && near && in.wprA > s.wprSellLevel2;
    return (r1 || r2 || r3) && in.wprB >= s.wprSellLevel3;
}

int32_t DecideEntry(const EngineState& s, bool buyHolds, bool sellHolds, int32_t scoreNow, int32_t scorePrev)
{
    int32_t result = SignalNone;
    if (s.profileMatched == 0) {
        if (buyHolds && s.buyEntryAllowed == 1 && scoreNow > ScoreEntryThreshold && scoreNow > scorePrev) {
            result = SignalBuy;
        }
        if (sellHolds && s.sellEntryAllowed == 1 && scoreNow < -ScoreEntryThreshold && scoreNow < scorePrev) {
            result = SignalSell;
        }
    } else if (s.profileMatched == 1) {
        if (buyHolds && s.buyEntryAllowed == 1) result = SignalBuy;
        if (sellHolds && s.sellEntryAllowed == 1) result = SignalSell;
    }
    return result;
}

IchimokuScoreInputs GatherIchimokuScoreInputs(const EngineState& s, int32_t k)
{
    // Three scans serve all eleven line values: the windows of bar k itself
    // (whose spans lie 32 bars ahead of the price), those 32 bars back (the
    // cloud under bar k) and those 64 bars back (the cloud 32 bars back).
    const IchimokuEntries atBar = ComputeIchimokuEntries(s, k);
    const IchimokuEntries back = ComputeIchimokuEntries(s, k + IchimokuShift);
    const IchimokuEntries twiceBack = ComputeIchimokuEntries(s, k + 2 * IchimokuShift);
    IchimokuScoreInputs in{};
    in.t = atBar.conversion;
    in.b = atBar.base;
    in.t32 = back.conversion;
    in.b32 = back.base;
    in.spanAAhead = atBar.spanA;
    in.spanBAhead = atBar.spanB;
    in.spanA = back.spanA;
    in.spanB = back.spanB;
    in.spanA32 = twiceBack.spanA;
    in.spanB32 = twiceBack.spanB;
    in.lagging = ComputeIchimokuLine(s, LaggingLine, k + IchimokuShift);  // the close of bar k
    in.close = s.closeSeries[k];
    in.close32 = s.closeSeries[k + IchimokuShift];
    return in;
}

int32_t ComputeIchimokuScore(const EngineState& s, int32_t k)
{
    return ScoreIchimoku(GatherIchimokuScoreInputs(s, k));
}

EntryInputs GatherEntryInputs(const EngineState& s)
{
    const WalkedKernels walked = ComputeWalkedKernels(s, s.smmaPeriod, s.atrPeriod, s.cciPeriod);
    EntryInputs in{};
    in.c1 = s.closeSeries[KernelBar];
    in.average = walked.smoothedClose;
    in.wprA = ComputeWilliamsR(s, s.wprPeriod);
    in.atr = walked.averageTrueRange;
    in.cci = walked.cci;
    // A profile gives both %R periods the same value: one window, one value.
    in.wprB = s.wprPeriod2 == s.wprPeriod ? in.wprA : ComputeWilliamsR(s, s.wprPeriod2);
    in.gap1 = PipsToPrice(s, s.smmaGapPips1);
    in.gap2 = PipsToPrice(s, s.smmaGapPips2);
    return in;
}

namespace {

// One side's test as the decision narrows it down: `open` while the side
// can still hold, and which of the alternatives r1 (%R level 1, gap 1),
// r2 (CCI, gap 2) and r3 (%R level 2, gap 2) it can still take.
struct Side {
    bool open;
    bool wprLevel1;  // r1's %R condition
    bool wprLevel2;  // r3's %R condition
};

int32_t Stop(EntryPath& path, EntryStop where)
{
    path.stop = where;
    return SignalNone;
}

}  // namespace

int32_t DecideOpenSignal(EngineState& s, EntryPath& path)
{
    path = EntryPath{EntryStop::FullTest, WalkUse::NotReached, WalkUse::NotReached, WalkUse::NotReached};
    if (!BeginEntryDecision(s)) return Stop(path, EntryStop::NoRuleSet);
    Side buy{s.buyEntryAllowed == 1, false, false};
    Side sell{s.sellEntryAllowed == 1, false, false};
    if (!buy.open && !sell.open) return Stop(path, EntryStop::Position);

    // Every alternative of a test needs near, and the test needs wprB's
    // last step besides: both cost next to nothing.
    const double c1 = s.closeSeries[KernelBar];
    buy.open = buy.open && BuyQuoteNear(s, c1);
    sell.open = sell.open && SellQuoteNear(s, c1);
    if (!buy.open && !sell.open) return Stop(path, EntryStop::Quote);
    const double wprB = ComputeWilliamsR(s, s.wprPeriod2);
    buy.open = buy.open && wprB <= s.wprBuyLevel3;
    sell.open = sell.open && wprB >= s.wprSellLevel3;
    if (!buy.open && !sell.open) return Stop(path, EntryStop::WilliamsR);

    // Without a profile the score must lie beyond 12 at bar 0, in the
    // side's direction, and beyond the score at bar 1: three window scans
    // per bar, so bar 0 alone first.
    int32_t scoreNow = 0;
    int32_t scorePrev = 0;
    if (s.profileMatched == 0) {
        scoreNow = ComputeIchimokuScore(s, 0);
        buy.open = buy.open && scoreNow > ScoreEntryThreshold;
        sell.open = sell.open && scoreNow < -ScoreEntryThreshold;
        if (!buy.open && !sell.open) return Stop(path, EntryStop::Score);
        scorePrev = ComputeIchimokuScore(s, 1);
        buy.open = buy.open && scoreNow > scorePrev;
        sell.open = sell.open && scoreNow < scorePrev;
        if (!buy.open && !sell.open) return Stop(path, EntryStop::Score);
    }

    // A profile gives both %R periods the same value: one window, one value.
    const double wprA = s.wprPeriod == s.wprPeriod2 ? wprB : ComputeWilliamsR(s, s.wprPeriod);
    buy.wprLevel1 = wprA < s.wprBuyLevel1;
    buy.wprLevel2 = wprA < s.wprBuyLevel2;
    sell.wprLevel1 = wprA > s.wprSellLevel1;
    sell.wprLevel2 = wprA > s.wprSellLevel2;
    // r2 and r3 both need d > gap2: where %R passes r3's level, r3 holds
    // whenever r2 does, so the CCI counts only for a side whose %R fails it.
    const bool cciCounts = (buy.open && !buy.wprLevel2) || (sell.open && !sell.wprLevel2);

    // Every alternative needs the volatility gate and the distance to the
    // smoothed average. The true-range and CCI walks go first, the smoothed
    // walk along in their shadow: they settle most decisions, and a decision
    // they leave open needs only the rest of the smoothed walk.
    KernelWalks walks = StartKernelWalks(s, s.smmaPeriod, s.atrPeriod, s.cciPeriod);
    WalkRunningSums(walks, s, cciCounts);
    path.trueRange = walks.trueRange.defined ? WalkUse::Walked : WalkUse::NoValue;
    path.cci = !cciCounts ? WalkUse::NotNeeded : (walks.typical.defined ? WalkUse::Walked : WalkUse::NoValue);
    const bool smoothedDefined = walks.smoothed.next >= KernelBar;
    const bool smoothedMoved = walks.smoothed.next < walks.lastBar - 1;
    path.smoothed = !smoothedDefined ? WalkUse::NoValue : (smoothedMoved ? WalkUse::PartWalked : WalkUse::NotNeeded);

    const double atr = AverageTrueRangeOf(walks);
    if (!VolatilityAllowsEntry(s, atr)) return Stop(path, EntryStop::VolatilityGate);
    // Read only where it counts; elsewhere the test does not depend on it.
    const double cci = cciCounts ? CciOf(walks, s) : 0.0;
    const double cciLevel = static_cast<double>(s.cciLevel);
    buy.open = buy.open && (buy.wprLevel1 || buy.wprLevel2 || cci < -cciLevel);
    sell.open = sell.open && (sell.wprLevel1 || sell.wprLevel2 || cci > cciLevel);
    if (!buy.open && !sell.open) return Stop(path, EntryStop::NoAlternative);

    FinishSmoothedWalk(walks, s);
    if (smoothedDefined) path.smoothed = WalkUse::Walked;
    const EntryInputs in{c1,
                         SmoothedCloseOf(walks),
                         wprA,
                         atr,
                         cci,
                         wprB,
                         PipsToPrice(s, s.smmaGapPips1),
                         PipsToPrice(s, s.smmaGapPips2)};
    return DecideEntry(s, buy.open && CheckBuyEntry(s, in), sell.open && CheckSellEntry(s, in), scoreNow,
                       scorePrev);
}

int32_t OpenSignal(EngineState& s)
{
    EntryPath path{};
    return DecideOpenSignal(s, path);
}

}  // namespace torvik
