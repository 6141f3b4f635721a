#include "signals/reference/entry_signal.h"

#include "signals/reference/ichimoku.h"
#include "signals/reference/kernels.h"

// Calls into this form are qualified: the library's form declares the same
// names in torvik, where argument-dependent lookup would find them too.
namespace torvik::reference {

IchimokuScoreInputs GatherIchimokuScoreInputs(const EngineState& s, int32_t k)
{
    const int32_t ahead = k - IchimokuShift;
    const int32_t back = k + IchimokuShift;
    IchimokuScoreInputs in{};
    in.t = reference::ComputeIchimokuLine(s, ConversionLine, k);
    in.b = reference::ComputeIchimokuLine(s, BaseLine, k);
    in.t32 = reference::ComputeIchimokuLine(s, ConversionLine, back);
    in.b32 = reference::ComputeIchimokuLine(s, BaseLine, back);
    in.spanAAhead = reference::ComputeIchimokuLine(s, LeadingSpanA, ahead);
    in.spanBAhead = reference::ComputeIchimokuLine(s, LeadingSpanB, ahead);
    in.spanA = reference::ComputeIchimokuLine(s, LeadingSpanA, k);
    in.spanB = reference::ComputeIchimokuLine(s, LeadingSpanB, k);
    in.spanA32 = reference::ComputeIchimokuLine(s, LeadingSpanA, back);
    in.spanB32 = reference::ComputeIchimokuLine(s, LeadingSpanB, back);
    in.lagging = reference::ComputeIchimokuLine(s, LaggingLine, back);
    in.close = s.closeSeries[k];
    in.close32 = s.closeSeries[back];
    return in;
}

int32_t ComputeIchimokuScore(const EngineState& s, int32_t k)
{
    return ScoreIchimoku(reference::GatherIchimokuScoreInputs(s, k));
}

EntryInputs GatherEntryInputs(const EngineState& s)
{
    EntryInputs in{};
    in.c1 = s.closeSeries[KernelBar];
    in.average = reference::ComputeMovingAverage(s, s.smmaPeriod, s.closeSeries, SmoothedAverage, KernelBar);
    in.wprA = reference::ComputeWilliamsR(s, s.wprPeriod);
    in.atr = reference::ComputeAverageTrueRange(s);
    in.cci = reference::ComputeCci(s);
    in.wprB = reference::ComputeWilliamsR(s, s.wprPeriod2);
    in.gap1 = PipsToPrice(s, s.smmaGapPips1);
    in.gap2 = PipsToPrice(s, s.smmaGapPips2);
    return in;
}

bool CheckBuyEntry(const EngineState& s) { return torvik::CheckBuyEntry(s, reference::GatherEntryInputs(s)); }
bool CheckSellEntry(const EngineState& s) { return torvik::CheckSellEntry(s, reference::GatherEntryInputs(s)); }

int32_t OpenSignal(EngineState& s)
{
    if (!BeginEntryDecision(s)) return SignalNone;

    int32_t scoreNow = 0;
    int32_t scorePrev = 0;
    if (s.profileMatched == 0) {
        scoreNow = reference::ComputeIchimokuScore(s, 0);
        scorePrev = reference::ComputeIchimokuScore(s, 1);
    }
    return DecideEntry(s, reference::CheckBuyEntry(s), reference::CheckSellEntry(s), scoreNow, scorePrev);
}

}  // namespace torvik::reference
