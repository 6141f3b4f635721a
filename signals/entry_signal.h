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

// The conditions that both tests share. The volatility gate: the average
// true range must be strictly above minAtrPips x pipSize, unrounded.
bool VolatilityAllowsEntry(const EngineState& s, double atr);
// near: the bid at most 0.9 pip above the close of bar 1 (buy), at most
// 0.9 pip below it (sell).
bool BuyQuoteNear(const EngineState& s, double c1);
bool SellQuoteNear(const EngineState& s, double c1);

bool CheckBuyEntry(const EngineState& s, const EntryInputs& in);
bool CheckSellEntry(const EngineState& s, const EntryInputs& in);

// The decision once the permissions are set and the tests and scores known.
int32_t DecideEntry(const EngineState& s, bool buyHolds, bool sellHolds, int32_t scoreNow, int32_t scorePrev);

// ---- the library's form: only the line entries and kernel values that bar
// 1 and the score read, each computed once per decision

// The score's inputs at bar k (0 or 1).
IchimokuScoreInputs GatherIchimokuScoreInputs(const EngineState& s, int32_t k);
int32_t ComputeIchimokuScore(const EngineState& s, int32_t k);

// Every input of the tests, each kernel walked in full.
EntryInputs GatherEntryInputs(const EngineState& s);

// Where an entry decision stopped: the condition that left no side open,
// or the whole tests once the smoothed average was walked.
enum class EntryStop : uint8_t {
    NoRuleSet,       // profileMatched is neither 0 nor 1
    Position,        // the open position allows neither side
    Quote,           // the bid is too far from the close of bar 1
    WilliamsR,       // wprB fails the last step of each side left
    Score,           // without a profile: the score at bar 0 or bar 1
    VolatilityGate,  // the average true range is not above the minimum
    NoAlternative,   // neither %R nor the CCI opens an alternative
    FullTest,        // only the distance to the smoothed average was left
};

// What became of a kernel's walk in one decision.
enum class WalkUse : uint8_t {
    NotReached,  // the decision stopped before the kernel was asked for
    NoValue,     // the kernel has no value here (0.0): nothing to walk
    NotNeeded,   // the answer did not depend on it: the CCI where %R opens
                 // the alternative it serves, the smoothed walk where the
                 // others settled the decision before it moved
    PartWalked,  // the smoothed walk, dropped after it went along part way
    Walked,
};

struct EntryPath {
    EntryStop stop;
    WalkUse trueRange;
    WalkUse cci;
    WalkUse smoothed;
};

// The decision, lazily: the conditions that need no walk first (the
// permissions, the bid, wprB, without a profile the score), then the
// true-range and CCI walks with the smoothed walk going along, and the rest
// of the smoothed walk only when the distance to the average can still
// change the answer. Gives the answer of the tests on every input walked
// in full, and says in `path` how far it went.
int32_t DecideOpenSignal(EngineState& s, EntryPath& path);

// 0 nothing, 1 buy, 2 sell.
int32_t OpenSignal(EngineState& s);

}  // namespace torvik
