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

bool CheckBuyEntry(const EngineState& s, const EntryInputs& in)
{
    // The average true range must be strictly above the unrounded minimum.
    if (static_cast<double>(s.minAtrPips) * s.pipSize >= in.atr) return false;
    const double d = in.c1 - in.average;
    const bool near = in.c1 - s.bidPrice >= -s.pipTolerance;
    const bool r1 = d > in.gap1 && near && in.wprA < s.wprBuyLevel1;
    const bool r2 = d > in.gap2 && near && in.cci < -static_cast<double>(s.cciLevel);
    const bool r3 = d > in.gap2 && near && in.wprA < s.wprBuyLevel2;
    return (r1 || r2 || r3) && in.wprB <= s.wprBuyLevel3;
}

bool CheckSellEntry(const EngineState& s, const EntryInputs& in)
{
    if (static_cast<double>(s.minAtrPips) * s.pipSize >= in.atr) return false;
    const double d = in.average - in.c1;
    const bool near = in.c1 - s.bidPrice <= s.pipTolerance;
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

int32_t OpenSignal(EngineState& s)
{
    if (!BeginEntryDecision(s)) return SignalNone;

    int32_t scoreNow = 0;
    int32_t scorePrev = 0;
    if (s.profileMatched == 0) {
        scoreNow = ComputeIchimokuScore(s, 0);
        scorePrev = ComputeIchimokuScore(s, 1);
    }
    // With both tests holding, DecideEntry gives the most any tests can: when
    // even that is nothing (the score or the permissions leave no room), the
    // kernels cannot change the answer and are not computed.
    if (DecideEntry(s, true, true, scoreNow, scorePrev) == SignalNone) return SignalNone;

    // The buy and sell tests read the same inputs, so they are gathered once.
    const EntryInputs in = GatherEntryInputs(s);
    return DecideEntry(s, CheckBuyEntry(s, in), CheckSellEntry(s, in), scoreNow, scorePrev);
}

}  // namespace torvik
