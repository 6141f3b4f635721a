// OpenSignal: the entry decision.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace torvik {

inline constexpr int32_t SignalNone = 0;
inline constexpr int32_t SignalBuy = 1;
inline constexpr int32_t SignalSell = 2;

inline constexpr int32_t ScoreVoteCount = 15;
inline constexpr int32_t ScoreEntryThreshold = 12;  // a score must be beyond this
inline constexpr int32_t PyramidDistancePips = 20;

// The eleven line values and two closes the score compares at bar k.
struct IchimokuScoreInputs {
    double t, b, t32, b32;
    double spanAAhead, spanBAhead;  // the spans computed from bar k
    double spanA, spanB;            // the cloud under bar k
    double spanA32, spanB32;
    double lagging;
    double close, close32;
};

// What both entry tests read; each is a pure function of the record.
struct EntryInputs {
    double c1;
    double average;
    double wprA;
    double atr;
    double cci;
    double wprB;
    double gap1;
    double gap2;
};

// ---- the pure parts of the decision, shared by every form of it

// A count of pips as a price distance: the product first, then rounded to
// pipDigits.
double PipsToPrice(const EngineState& s, int32_t pips);

// Sets buyEntryAllowed and sellEntryAllowed from the open position.
void UpdateEntryPermissions(EngineState& s);

// The start of every entry decision: clears both flags and sets them from
// the open position. False when profileMatched selects no rule set, so that
// the answer is 0 whatever the tests say.
bool BeginEntryDecision(EngineState& s);

// Fifteen votes: the number of bullish votes when they outnumber the bearish
// ones, minus the number of bearish votes in the opposite case, else 0.
int32_t ScoreIchimoku(const IchimokuScoreInputs& in);

bool CheckBuyEntry(const EngineState& s, const EntryInputs& in);
bool CheckSellEntry(const EngineState& s, const EntryInputs& in);

// The decision once the permissions are set and the tests and scores known.
int32_t DecideEntry(const EngineState& s, bool buyHolds, bool sellHolds, int32_t scoreNow, int32_t scorePrev);

// ---- the library's form: only the line entries and kernel values that bar
// 1 and the score read, each computed once per decision

// The score's inputs at bar k (0 or 1).
IchimokuScoreInputs GatherIchimokuScoreInputs(const EngineState& s, int32_t k);
int32_t ComputeIchimokuScore(const EngineState& s, int32_t k);

EntryInputs GatherEntryInputs(const EngineState& s);

// 0 nothing, 1 buy, 2 sell.
int32_t OpenSignal(EngineState& s);

}  // namespace torvik
