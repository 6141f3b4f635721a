// The library's decisions against the straightforward reference form, bit for
// bit, over many engine records: synthetic markets (trends, flats, gaps,
// odd values), the bundled real bars at every window length from 90 to 500,
// every instrument profile and none, with and without positions, derived,
// profile and scrambled calibrations, uncalibrated records, records after
// rews, and records whose lastBarIndex lies beyond the series.
//
// Each record compares every kernel, the line values at every index the
// score reads (through the score's inputs and through single queries), both
// scores, every entry and exit input, both decisions, the entry flags and
// the whole record OpenSignal leaves. It also counts how often each answer
// fired, so that forms which never signal cannot pass.
//
// TORVIK_FAST_FORM_STATES sets the number of records (default 10,000); the
// emulated and instrumented runs may ask for fewer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "calibration/calibration.h"
#include "calibration/instrument_profiles.h"
#include "engine/rounding.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "signals/ichimoku.h"
#include "signals/kernels.h"
#include "signals/reference/entry_signal.h"
#include "signals/reference/exit_signal.h"
#include "signals/reference/ichimoku.h"
#include "signals/reference/kernels.h"
#include "support/csv_bars.h"
#include "support/fixtures.h"
#include "support/state_compare.h"

namespace torvik {
namespace {

using namespace testing;

constexpr int DefaultStateCount = 10000;
constexpr int ConfigsPerBarSet = 8;
constexpr int FirstRealLength = 90;
constexpr int LastRealLength = SeriesCapacity;
constexpr int MaxReportedMismatches = 12;
constexpr uint64_t DirectReferenceEvery = 8;

int RequestedStateCount()
{
    const char* text = std::getenv("TORVIK_FAST_FORM_STATES");
    if (text == nullptr) return DefaultStateCount;
    const long n = std::strtol(text, nullptr, 10);
    return n > 0 && n <= 10000000 ? static_cast<int>(n) : DefaultStateCount;
}

// SplitMix64: the same sequence on every platform and standard library.
class Rng {
public:
    explicit Rng(uint64_t seed) : x_(seed) {}
    uint64_t Next()
    {
        x_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = x_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int32_t Int(int32_t lo, int32_t hi)  // lo..hi inclusive
    {
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
        return static_cast<int32_t>(lo + static_cast<int64_t>(Next() % span));
    }
    bool OneIn(int32_t n) { return Int(1, n) == 1; }

private:
    uint64_t x_;
};

// ---------------------------------------------------------------- bar sets

struct BarSet {
    std::string name;
    Bars bars;
    int32_t digits;
    double point;
};

// Segments of trends, flats (constant bars, so windows without range and
// equal extremes), gaps (the previous close outside the next bar) and plain
// noise, on a grid of `tick` so equal prices are equal doubles.
Bars SyntheticMarket(Rng& rng, int count, double start, double tick)
{
    Bars bars;
    int64_t level = 0;  // the close so far, in ticks from start
    const double volumeBase = static_cast<double>(rng.Int(1, 4) * rng.Int(20, 1500));
    auto price = [&](int64_t ticks) { return start + static_cast<double>(ticks) * tick; };
    while (static_cast<int>(bars.size()) < count) {
        const int kind = rng.Int(0, 3);
        const int length = rng.Int(3, 60);
        const int32_t drift = rng.Int(-8, 8);
        const int32_t flatWick = rng.Int(0, 3);
        for (int n = 0; n < length && static_cast<int>(bars.size()) < count; ++n) {
            int64_t open = level;
            int64_t close = level;
            int64_t high = 0;
            int64_t low = 0;
            if (kind == 0) {  // trend
                close = open + drift + rng.Int(-3, 3);
            } else if (kind == 1) {  // flat
                high = flatWick;
                low = flatWick;
            } else if (kind == 2) {  // a gap, then noise
                if (n == 0) open = level + (rng.OneIn(2) ? 1 : -1) * rng.Int(30, 400);
                close = open + rng.Int(-20, 20);
            } else {  // noise
                close = open + rng.Int(-25, 25);
            }
            if (kind != 1) {
                high = rng.Int(0, 12);
                low = rng.Int(0, 12);
            }
            const int64_t top = (open > close ? open : close) + high;
            const int64_t bottom = (open < close ? open : close) - low;
            bars.push_back(Bar(price(open), price(top), price(bottom), price(close),
                               volumeBase + static_cast<double>(rng.Int(0, 400))));
            level = close;
        }
    }
    return bars;
}

// Host values the engine must still treat alike in both forms: not-a-number,
// infinities, signed zeros side by side, huge and tiny prices.
void AddOddValues(Rng& rng, Bars& bars)
{
    const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), 0.0, -0.0, 1e300, -1e300, 5e-324};
    const int n = static_cast<int>(bars.size());
    for (int k = rng.Int(1, 6); k > 0; --k) {
        BarRecord& b = bars[static_cast<size_t>(rng.Int(0, n - 1))];
        const double v = odd[rng.Int(0, 7)];
        switch (rng.Int(0, 2)) {
        case 0: b.high = v; break;
        case 1: b.low = v; break;
        default: b.close = v; break;
        }
    }
    if (n >= 3) {  // +0.0 and -0.0 as neighbouring lows and highs
        const size_t p = static_cast<size_t>(rng.Int(0, n - 3));
        bars[p].low = 0.0;
        bars[p + 1].low = -0.0;
        bars[p + 1].high = -0.0;
        bars[p + 2].high = 0.0;
    }
}

// Highs, lows or whole bars of zeros of either sign: every window's extreme
// is then a tie between +0.0 and -0.0 that only the order and strictness of
// the scan resolve, and (HH - close) x -100 keeps the sign of a zero.
void MakeSignedZeroExtremes(Rng& rng, Bars& bars, double tick)
{
    const int variant = rng.Int(0, 2);
    for (BarRecord& b : bars) {
        const double zero = rng.OneIn(2) ? 0.0 : -0.0;
        const double other = rng.Int(1, 50) * tick;
        const double close = rng.OneIn(3) ? (rng.OneIn(2) ? 0.0 : -0.0) : rng.Int(0, 50) * tick;
        if (variant == 0) {  // the highs are the zeros, everything else below
            b.high = zero;
            b.low = -other;
            b.close = -close;
        } else if (variant == 1) {  // the lows are the zeros, everything else above
            b.low = zero;
            b.high = other;
            b.close = close;
        } else {
            b.high = zero;
            b.low = rng.OneIn(2) ? 0.0 : -0.0;
            b.close = rng.OneIn(2) ? 0.0 : -0.0;
        }
    }
}

int SyntheticLength(Rng& rng)
{
    static const int edges[] = {1, 2, 17, 33, 96, 97, 98, 99, 128, 129, 130, 160, 161, 162, 450, 451, 452, 499, 500};
    if (rng.OneIn(5)) return edges[rng.Int(0, static_cast<int32_t>(std::size(edges)) - 1)];
    return rng.Int(FirstRealLength, SeriesCapacity);
}

BarSet SyntheticBarSet(uint64_t seed)
{
    Rng rng(seed);
    struct Grid {
        int32_t digits;
        double point;
        double start;
    };
    // Decimal grids of real quotes, and one binary grid on which sums and
    // differences are exact, so that boundaries are met with equality.
    static const Grid grids[] = {{5, 0.00001, 1.2}, {3, 0.001, 130.0}, {4, 0.0001, 0.75}, {2, 0.01, 1500.0},
                                 {3, 1.0 / 1024.0, 2.0}};
    const Grid& g = grids[rng.Int(0, 4)];
    const int length = SyntheticLength(rng);
    BarSet set{"synthetic seed " + std::to_string(seed), SyntheticMarket(rng, length, g.start, g.point), g.digits,
               g.point};
    if (rng.OneIn(3) && length > 40) {
        // End on a breakout, where the score turns strong: the sets whose
        // score leaves room for an entry without a profile.
        const int32_t step = (rng.OneIn(2) ? 1 : -1) * rng.Int(4, 15);
        const int run = rng.Int(8, 40);
        Bars breakout = Trend(run, set.bars[static_cast<size_t>(length - run - 1)].close, step * g.point,
                              rng.Int(0, 4) * g.point);
        std::copy(breakout.begin(), breakout.end(), set.bars.end() - run);
        set.name += " ending on a breakout";
    }
    if (rng.OneIn(12)) {
        AddOddValues(rng, set.bars);
        set.name += " with odd values";
    } else if (rng.OneIn(12)) {
        MakeSignedZeroExtremes(rng, set.bars, g.point);
        set.name += " with signed-zero extremes";
    }
    return set;
}

struct HistoryFile {
    const char* file;
    int32_t digits;
    double point;
    Bars bars;
};

std::vector<HistoryFile>& History()
{
    static std::vector<HistoryFile> files = [] {
        std::vector<HistoryFile> f{{"EURUSD_H1.csv", 5, 0.00001, {}}, {"USDJPY_H1.csv", 3, 0.001, {}}};
        for (HistoryFile& h : f) h.bars = ReadBarFile(BundledDataPath(h.file));
        return f;
    }();
    return files;
}

// A window of `length` real bars; where it ends moves with the length, so
// the windows cover the whole file.
BarSet RealBarSet(const HistoryFile& h, int length)
{
    const size_t total = h.bars.size();
    const size_t room = total - static_cast<size_t>(length);
    const size_t end = static_cast<size_t>(length) + (static_cast<size_t>(length) * 7919u) % (room + 1);
    BarSet set{std::string(h.file) + " length " + std::to_string(length) + " ending at bar " + std::to_string(end),
               Bars(h.bars.begin() + static_cast<std::ptrdiff_t>(end) - length, h.bars.begin() + static_cast<std::ptrdiff_t>(end)),
               h.digits, h.point};
    return set;
}

// ----------------------------------------------------------- configurations

const char* const NoProfileSymbols[] = {"XAUUSD", "", "GOLD", "EUR/USD", nullptr};

struct Quote {
    double bid;
    double ask;
    double pip;  // the pip that IniAll will set for currency "USD" and pip mode 4
    double d20;  // the pyramid distance the pre-filter will use
};

Quote QuoteFor(Rng& rng, const BarSet& set)
{
    const double last = set.bars.back().close;
    Quote q{};
    q.bid = last + rng.Int(-3, 3) * set.point;
    q.ask = q.bid + rng.Int(0, 25) * set.point;
    q.pip = 10.0 * set.point;
    q.d20 = RoundToDigits(20.0 * q.pip, set.digits - 1);
    return q;
}

struct Position {
    double openPrice;
    int32_t type;
};

// No position, positions exactly on the 20-pip pyramid bounds, positions at
// random distances, and a position of a type that is neither buy nor sell.
Position PickPosition(Rng& rng, const Quote& q)
{
    switch (rng.Int(0, 6)) {
    case 0: return {0.0, rng.Int(0, 1)};
    case 1: return {q.ask + q.d20, 0};
    case 2: return {q.ask + rng.Int(-60, 60) * q.pip, 0};
    case 3: return {q.bid - q.d20, 1};
    case 4: return {q.bid + rng.Int(-60, 60) * q.pip, 1};
    case 5: return {q.bid + rng.Int(-60, 60) * q.pip, 4};
    default: return {q.bid, rng.Int(0, 1)};
    }
}

void FeedBars(EngineState& s, const BarSet& set, const Quote& q, const Position& p, int32_t pipMode,
              int32_t barCount)
{
    const int32_t n = static_cast<int32_t>(set.bars.size());
    const BarRecord* b = set.bars.data();
    const BarIngestion in{barCount, b, n, b, n, b, n, q.ask, q.bid, set.digits, set.point, p.openPrice, p.type,
                          pipMode};
    Rft(s, in);
}

void Feed(EngineState& s, const BarSet& set, const Quote& q, const Position& p, int32_t pipMode = 4)
{
    FeedBars(s, set, q, p, pipMode, static_cast<int32_t>(set.bars.size()));
}

// A period at the edges around L, in its calibrated range, below 1, or
// anywhere up to L + 2.
int32_t ScrambledPeriod(Rng& rng, int32_t L, int32_t lo, int32_t hi)
{
    switch (rng.Int(0, 3)) {
    case 0: return L + rng.Int(-2, 2);
    case 1: return rng.Int(lo, hi);
    case 2: return rng.Int(-2, 3);
    default: return rng.Int(1, L > 0 ? L + 2 : 3);
    }
}

// Calibrated fields no instrument gives: periods at the edges of the data,
// levels across the whole %R scale and beyond, so both tests hold often.
void Scramble(Rng& rng, EngineState& s, bool permissive)
{
    const int32_t L = s.lastBarIndex;
    s.smmaPeriod = ScrambledPeriod(rng, L, 60, 100);
    s.atrPeriod = rng.OneIn(6) ? rng.Int(449, 452) : ScrambledPeriod(rng, L, 10, 30);
    s.cciPeriod = ScrambledPeriod(rng, L, 10, 30);
    s.wprPeriod = ScrambledPeriod(rng, L, 10, 20);
    s.wprPeriod2 = rng.OneIn(2) ? s.wprPeriod : ScrambledPeriod(rng, L, 10, 20);
    s.wprBuyLevel1 = rng.Int(-105, 5);
    s.wprBuyLevel2 = rng.Int(-105, 5);
    s.wprBuyLevel3 = rng.Int(-105, 5);
    s.wprSellLevel1 = rng.Int(-105, 5);
    s.wprSellLevel2 = rng.Int(-105, 5);
    s.wprSellLevel3 = rng.Int(-105, 5);
    s.cciLevel = rng.Int(0, 300);
    s.minAtrPips = rng.Int(-1, 12);
    s.smmaGapPips1 = rng.Int(-5, 60);
    s.smmaGapPips2 = rng.Int(-5, 60);
    s.closeLossPips = -rng.Int(0, 300);
    s.closeProfitPips = rng.Int(-5, 60);
    if (permissive) {
        // Levels every %R passes, no volatility floor, gaps the distance to
        // the average nearly always clears and a wide tolerance: both tests
        // then tend to hold, and the score decides.
        s.wprBuyLevel1 = s.wprBuyLevel2 = s.wprBuyLevel3 = 1;
        s.wprSellLevel1 = s.wprSellLevel2 = s.wprSellLevel3 = -101;
        s.minAtrPips = rng.Int(-1, 0);
        s.smmaGapPips1 = rng.Int(-400, 2);
        s.smmaGapPips2 = rng.Int(-400, 2);
        s.pipTolerance *= rng.Int(1, 40);
    }
}

// Levels exactly on the record's own %R and CCI values where those are
// whole numbers (a window without range gives -50, a close on the window's
// extreme 0 or -100, constant typical prices a CCI of 0), and at times a
// tolerance exactly the distance from the bid to the close of bar 1: the
// comparisons meet their boundaries, where a decision that stops early on
// one of them must still agree with the whole tests.
void PutLevelsOnValues(Rng& rng, EngineState& s)
{
    const EntryInputs in = GatherEntryInputs(s);
    const auto whole = [](double v, int32_t otherwise) {
        return std::fabs(v) <= 1000.0 && v == std::floor(v) ? static_cast<int32_t>(v) : otherwise;
    };
    s.wprBuyLevel3 = whole(in.wprB, s.wprBuyLevel3);
    s.wprSellLevel3 = whole(in.wprB, s.wprSellLevel3);
    int32_t& buyLevel = rng.OneIn(2) ? s.wprBuyLevel1 : s.wprBuyLevel2;
    buyLevel = whole(in.wprA, buyLevel);
    int32_t& sellLevel = rng.OneIn(2) ? s.wprSellLevel1 : s.wprSellLevel2;
    sellLevel = whole(in.wprA, sellLevel);
    s.cciLevel = whole(std::fabs(in.cci), s.cciLevel);
    if (rng.OneIn(2)) s.pipTolerance = std::fabs(in.c1 - s.bidPrice);
}

// The record of configuration `config` (0..ConfigsPerBarSet-1) of a bar set.
EngineState Configure(const BarSet& set, int config, uint64_t seed, std::string& what)
{
    Rng rng(seed);
    const Quote q = QuoteFor(rng, set);
    const char* profile = InstrumentProfiles[rng.Int(0, InstrumentProfileCount - 1)].code;
    const char* plain = NoProfileSymbols[rng.Int(0, static_cast<int32_t>(std::size(NoProfileSymbols)) - 1)];
    EngineState s{};
    switch (config) {
    case 0:  // a profile, no position
        what = std::string("profile ") + profile;
        Feed(s, set, q, Position{0.0, 0});
        IniAll(s, profile, "USD");
        break;
    case 1:  // calibrated from the bars' statistics, any position
        what = "no profile";
        Feed(s, set, q, PickPosition(rng, q));
        IniAll(s, plain, "USD");
        break;
    case 2: {  // a profile with a position, pip modes and account currencies
        const int32_t pipMode = rng.OneIn(2) ? 4 : 5;
        const char* currency = rng.OneIn(2) ? "USD" : "EUR";
        what = std::string("profile ") + profile + " with a position, pip mode " + std::to_string(pipMode) + " " +
               currency;
        Feed(s, set, q, PickPosition(rng, q), pipMode);
        IniAll(s, profile, currency);
        break;
    }
    case 3: {
        const int32_t pipMode = rng.OneIn(2) ? 4 : 5;
        what = "no profile with a position, pip mode " + std::to_string(pipMode);
        Feed(s, set, q, PickPosition(rng, q), pipMode);
        IniAll(s, plain, rng.OneIn(2) ? "USD" : "JPY");
        break;
    }
    case 4:  // a profile's rule set with scrambled fields
        what = std::string("scrambled over profile ") + profile;
        Feed(s, set, q, PickPosition(rng, q));
        IniAll(s, profile, "USD");
        Scramble(rng, s, rng.OneIn(2));
        if (rng.OneIn(3)) {
            PutLevelsOnValues(rng, s);
            what += ", levels on its values";
        }
        break;
    case 5:  // the score's rule set with fields that let both tests hold
        what = "scrambled without profile";
        Feed(s, set, q, PickPosition(rng, q));
        IniAll(s, plain, "USD");
        Scramble(rng, s, true);
        if (rng.OneIn(3)) {
            PutLevelsOnValues(rng, s);
            what += ", levels on its values";
        }
        break;
    case 6:  // records the host can leave behind
        switch (rng.Int(0, 4)) {
        case 0:
            what = "uncalibrated";
            Feed(s, set, q, PickPosition(rng, q));
            break;
        case 1:
            what = "after rews";
            Feed(s, set, q, PickPosition(rng, q));
            IniAll(s, profile, "USD");
            rews(s);
            break;
        case 2:
            what = "after rews and a new Rft";
            Feed(s, set, q, PickPosition(rng, q));
            IniAll(s, plain, "USD");
            rews(s);
            Feed(s, set, q, PickPosition(rng, q));
            break;
        case 3:
            Feed(s, set, q, PickPosition(rng, q));
            IniAll(s, plain, "USD");
            s.profileMatched = rng.OneIn(2) ? 2 : -1;
            what = "profileMatched " + std::to_string(s.profileMatched);
            break;
        default:
            what = "a new Rft on an earlier calibration";
            Feed(s, set, q, Position{0.0, 0});
            IniAll(s, rng.OneIn(2) ? profile : plain, "USD");
            Feed(s, set, QuoteFor(rng, set), PickPosition(rng, q));
            break;
        }
        break;
    default: {  // calibrated bars, then an Rft that leaves no usable bars
        Feed(s, set, q, Position{0.0, 0});
        IniAll(s, rng.OneIn(2) ? profile : plain, "USD");
        static const int32_t counts[] = {SeriesCapacity + 1, 5000, 0, -5, INT32_MIN};
        const int32_t barCount = counts[rng.Int(0, 4)];
        what = "barCount " + std::to_string(barCount) + " after a calibration";
        FeedBars(s, set, q, PickPosition(rng, q), 4, barCount);
        break;
    }
    }
    return s;
}

// ---------------------------------------------------------------- checking

// Bit for bit, except that two not-a-numbers agree whatever their sign and
// payload: which operand's NaN an addition or a product passes on is the
// compiler's choice (it may swap the operands of + and *), so no order in
// the source fixes them, and nothing downstream can tell them apart.
bool SameResult(double a, double b) { return SameBits(a, b) || (std::isnan(a) && std::isnan(b)); }

class Differences {
public:
    void Expect(const std::string& state, const char* what, double fast, double reference)
    {
        if (SameResult(fast, reference)) return;
        char text[160];
        std::snprintf(text, sizeof text, "%s: fast %.17g, reference %.17g", what, fast, reference);
        Record(state, text);
    }
    void Expect(const std::string& state, const char* what, int32_t fast, int32_t reference)
    {
        if (fast == reference) return;
        Record(state, std::string(what) + ": fast " + std::to_string(fast) + ", reference " +
                          std::to_string(reference));
    }
    int Count() const { return count_; }

private:
    void Record(const std::string& state, const std::string& text)
    {
        if (++count_ <= MaxReportedMismatches) ADD_FAILURE() << state << ": " << text;
    }
    int count_ = 0;
};

#define TORVIK_SCORE_FIELDS(X) \
    X(t) X(b) X(t32) X(b32) X(spanAAhead) X(spanBAhead) X(spanA) X(spanB) X(spanA32) X(spanB32) X(lagging) \
    X(close) X(close32)
#define TORVIK_ENTRY_FIELDS(X) X(c1) X(average) X(wprA) X(atr) X(cci) X(wprB) X(gap1) X(gap2)
#define TORVIK_EXIT_FIELDS(X) X(wprB) X(c1) X(lossDist) X(profitDist)

// The reference's line values at bar k, each its own rebuild of the lines.
struct ReferenceLines {
    IchimokuScoreInputs at[2];
};

ReferenceLines ComputeReferenceLines(const EngineState& s)
{
    return {{reference::GatherIchimokuScoreInputs(s, 0), reference::GatherIchimokuScoreInputs(s, 1)}};
}

// The lines depend on nothing but the three series and lastBarIndex, so
// records that share them share the reference's line values.
bool SameLineInputs(const EngineState& a, const EngineState& b)
{
    return a.lastBarIndex == b.lastBarIndex && SameBits(a.highSeries, b.highSeries) &&
           SameBits(a.lowSeries, b.lowSeries) && SameBits(a.closeSeries, b.closeSeries);
}

void CompareLines(const std::string& state, const EngineState& s, const ReferenceLines& ref, Differences& d)
{
    for (int32_t k = 0; k <= 1; ++k) {
        const IchimokuScoreInputs& r = ref.at[k];
        const IchimokuScoreInputs f = GatherIchimokuScoreInputs(s, k);
#define TORVIK_COMPARE(field) d.Expect(state, k == 0 ? "bar 0 " #field : "bar 1 " #field, f.field, r.field);
        TORVIK_SCORE_FIELDS(TORVIK_COMPARE)
#undef TORVIK_COMPARE
        // The same values through the single-value query of the fast form.
        const struct {
            int32_t kind, index;
            double expected;
        } queries[] = {
            {ConversionLine, k, r.t},
            {BaseLine, k, r.b},
            {ConversionLine, k + IchimokuShift, r.t32},
            {BaseLine, k + IchimokuShift, r.b32},
            {LeadingSpanA, k - IchimokuShift, r.spanAAhead},
            {LeadingSpanB, k - IchimokuShift, r.spanBAhead},
            {LeadingSpanA, k, r.spanA},
            {LeadingSpanB, k, r.spanB},
            {LeadingSpanA, k + IchimokuShift, r.spanA32},
            {LeadingSpanB, k + IchimokuShift, r.spanB32},
            {LaggingLine, k + IchimokuShift, r.lagging},
        };
        for (const auto& q : queries) {
            const double fast = ComputeIchimokuLine(s, q.kind, q.index);
            if (SameResult(fast, q.expected)) continue;
            const std::string what = "line kind " + std::to_string(q.kind) + " at index " + std::to_string(q.index);
            d.Expect(state, what.c_str(), fast, q.expected);
        }
        d.Expect(state, k == 0 ? "score at bar 0" : "score at bar 1", ComputeIchimokuScore(s, k), ScoreIchimoku(r));
    }
}

void CompareKernels(const std::string& state, const EngineState& s, Differences& d)
{
    const WalkedKernels w = ComputeWalkedKernels(s, s.smmaPeriod, s.atrPeriod, s.cciPeriod);
    d.Expect(state, "smoothed average", w.smoothedClose,
             reference::ComputeMovingAverage(s, s.smmaPeriod, s.closeSeries, SmoothedAverage, KernelBar));
    d.Expect(state, "average true range", w.averageTrueRange, reference::ComputeAverageTrueRange(s));
    d.Expect(state, "cci", w.cci, reference::ComputeCci(s));
    d.Expect(state, "%R", ComputeWilliamsR(s, s.wprPeriod), reference::ComputeWilliamsR(s, s.wprPeriod));
    d.Expect(state, "%R 2", ComputeWilliamsR(s, s.wprPeriod2), reference::ComputeWilliamsR(s, s.wprPeriod2));
}

// Every kernel at periods around the edges of the bars: below 1, L - 2 to
// L + 1, the true-range limit, and a few in between.
void CompareKernelEdges(const std::string& state, const EngineState& base, Rng& rng, Differences& d)
{
    const int32_t L = base.lastBarIndex;
    const int32_t periods[] = {-1,    0,     1,     2,     3,           L - 2,           L - 1,
                               L,     L + 1, 449,   450,   451,         rng.Int(1, 100), rng.Int(1, SeriesCapacity),
                               INT32_MIN, INT32_MAX};
    for (const int32_t p : periods) {
        EngineState s = base;
        s.atrPeriod = p;
        s.cciPeriod = p;
        const WalkedKernels w = ComputeWalkedKernels(s, p, p, p);
        const std::string at = state + ", period " + std::to_string(p);
        d.Expect(at, "smoothed average", w.smoothedClose,
                 reference::ComputeMovingAverage(s, p, s.closeSeries, SmoothedAverage, KernelBar));
        d.Expect(at, "average true range", w.averageTrueRange, reference::ComputeAverageTrueRange(s));
        d.Expect(at, "cci", w.cci, reference::ComputeCci(s));
        d.Expect(at, "%R", ComputeWilliamsR(s, p), reference::ComputeWilliamsR(s, p));
    }
}

// reference::OpenSignal from its own parts, with the line values already
// computed for this record's bars: the permissions, then DecideEntry on the
// reference's tests and scores. It saves the 22 line rebuilds of each call.
int32_t ReferenceOpenSignalFromParts(EngineState& s, const ReferenceLines& lines, const EntryInputs& in)
{
    s.buyEntryAllowed = 0;
    s.sellEntryAllowed = 0;
    UpdateEntryPermissions(s);
    return DecideEntry(s, CheckBuyEntry(s, in), CheckSellEntry(s, in), ScoreIchimoku(lines.at[0]),
                       ScoreIchimoku(lines.at[1]));
}

// What the lazy decision did not walk cannot have mattered: the whole tests
// give its answer whatever values the kernels it skipped take, far below or
// above every level, on the close of bar 1, zero or not a number.
void ExpectSkippedKernelsIrrelevant(const std::string& state, const EngineState& s, const ReferenceLines& lines,
                                    const EntryInputs& in, const EntryPath& path, int32_t answer, Differences& d)
{
    const bool skippedAtr = path.trueRange == WalkUse::NotReached;
    const bool skippedCci = path.cci == WalkUse::NotReached || path.cci == WalkUse::NotNeeded;
    const bool skippedAverage = path.smoothed == WalkUse::NotReached || path.smoothed == WalkUse::NotNeeded ||
                                path.smoothed == WalkUse::PartWalked;
    const std::vector<double> anyValue = {-1e300, in.c1, 0.0, 1e300, std::numeric_limits<double>::quiet_NaN()};
    const auto valuesFor = [&anyValue](bool skipped, double walked) {
        return skipped ? anyValue : std::vector<double>{walked};
    };
    for (const double atr : valuesFor(skippedAtr, in.atr)) {
        for (const double cci : valuesFor(skippedCci, in.cci)) {
            for (const double average : valuesFor(skippedAverage, in.average)) {
                EntryInputs other = in;
                other.atr = atr;
                other.cci = cci;
                other.average = average;
                EngineState r = s;
                d.Expect(state, "OpenSignal on other values of the kernels it did not walk",
                         ReferenceOpenSignalFromParts(r, lines, other), answer);
            }
        }
    }
}

// How often the lazy entry decision stopped at each condition, and what
// became of each kernel's walk.
class PathTally {
public:
    void Add(const EntryPath& p)
    {
        ++stops_[Index(p.stop)];
        ++uses_[TrueRangeRow][Index(p.trueRange)];
        ++uses_[CciRow][Index(p.cci)];
        ++uses_[SmoothedRow][Index(p.smoothed)];
    }

    void Print(const char* title) const
    {
        std::printf("[ lazy path ] %s\n  stopped at:", title);
        for (int i = 0; i < StopCount; ++i) std::printf(" %s %d%s", StopNames[i], stops_[i], i + 1 < StopCount ? "," : "\n");
        for (int k = 0; k < KernelCount; ++k) {
            std::printf("  %s:", KernelNames[k]);
            for (int u = 0; u < UseCount; ++u) {
                if (Possible(k, u)) std::printf(" %s %d", UseNames[u], uses_[k][u]);
            }
            std::printf("\n");
        }
    }

    // Every stop and every use a kernel's walk can have, never taken.
    std::vector<std::string> Untaken() const
    {
        std::vector<std::string> untaken;
        for (int i = 0; i < StopCount; ++i) {
            if (stops_[i] == 0) untaken.push_back(std::string("stop: ") + StopNames[i]);
        }
        for (int k = 0; k < KernelCount; ++k) {
            for (int u = 0; u < UseCount; ++u) {
                if (Possible(k, u) && uses_[k][u] == 0) untaken.push_back(std::string(KernelNames[k]) + ": " + UseNames[u]);
            }
        }
        return untaken;
    }

private:
    static constexpr int StopCount = static_cast<int>(EntryStop::FullTest) + 1;
    static constexpr int UseCount = static_cast<int>(WalkUse::Walked) + 1;
    static constexpr int KernelCount = 3;
    static constexpr int TrueRangeRow = 0, CciRow = 1, SmoothedRow = 2;
    static constexpr const char* StopNames[StopCount] = {"no rule set", "position", "quote", "%R",
                                                         "score", "volatility gate", "no alternative", "full test"};
    static constexpr const char* UseNames[UseCount] = {"not reached", "no value", "not needed", "part walked",
                                                       "walked"};
    static constexpr const char* KernelNames[KernelCount] = {"true range", "cci", "smoothed average"};

    template <typename E>
    static int Index(E e)
    {
        return static_cast<int>(e);
    }
    // The true-range walk is needed by every decision that gets to the
    // walks; only the smoothed walk goes along part way.
    static bool Possible(int kernel, int use)
    {
        if (use == Index(WalkUse::PartWalked)) return kernel == SmoothedRow;
        if (use == Index(WalkUse::NotNeeded)) return kernel != TrueRangeRow;
        return true;
    }

    int stops_[StopCount] = {};
    int uses_[KernelCount][UseCount] = {};
};

struct Tally {
    int states = 0;
    int openAnswers[3][3] = {};  // [no profile, profile, other][answer]
    int closeAnswers[3] = {};
    int strongScores = 0;        // no-profile records whose score leaves room for an entry
    PathTally paths;
};

int Answer(int32_t a) { return a >= 0 && a <= 2 ? a : 0; }

void CompareRecord(const std::string& state, const EngineState& s, const ReferenceLines& lines,
                   bool directReference, Differences& d, Tally& tally)
{
    CompareLines(state, s, lines, d);
    CompareKernels(state, s, d);

    const EntryInputs fe = GatherEntryInputs(s);
    const EntryInputs re = reference::GatherEntryInputs(s);
#define TORVIK_COMPARE(field) d.Expect(state, "entry input " #field, fe.field, re.field);
    TORVIK_ENTRY_FIELDS(TORVIK_COMPARE)
#undef TORVIK_COMPARE
    const ExitInputs fx = GatherExitInputs(s);
    const ExitInputs rx = reference::GatherExitInputs(s);
#define TORVIK_COMPARE(field) d.Expect(state, "exit input " #field, fx.field, rx.field);
    TORVIK_EXIT_FIELDS(TORVIK_COMPARE)
#undef TORVIK_COMPARE

    EngineState fast = s;
    EngineState ref = s;
    EntryPath path{};
    const int32_t fastOpen = DecideOpenSignal(fast, path);
    const int32_t refOpen = s.profileMatched == 0 && !directReference ? ReferenceOpenSignalFromParts(ref, lines, re)
                                                                      : reference::OpenSignal(ref);
    d.Expect(state, "OpenSignal", fastOpen, refOpen);
    ExpectSkippedKernelsIrrelevant(state, s, lines, re, path, fastOpen, d);
    d.Expect(state, "buyEntryAllowed", fast.buyEntryAllowed, ref.buyEntryAllowed);
    d.Expect(state, "sellEntryAllowed", fast.sellEntryAllowed, ref.sellEntryAllowed);
    const std::string changed = DifferingFields(fast, ref);
    if (!changed.empty()) ADD_FAILURE() << state << ": OpenSignal left different records: " << changed;
    const int32_t fastClose = CloseSignal(s);
    d.Expect(state, "CloseSignal", fastClose, reference::CloseSignal(s));

    ++tally.states;
    tally.paths.Add(path);
    const int mode = s.profileMatched == 0 ? 0 : (s.profileMatched == 1 ? 1 : 2);
    ++tally.openAnswers[mode][Answer(fastOpen)];
    ++tally.closeAnswers[Answer(fastClose)];
    if (mode == 0) {
        const int32_t now = ScoreIchimoku(lines.at[0]);
        const int32_t prev = ScoreIchimoku(lines.at[1]);
        if ((now > ScoreEntryThreshold && now > prev) || (now < -ScoreEntryThreshold && now < prev)) {
            ++tally.strongScores;
        }
    }
}

// All configurations of one bar set. The reference's line values are
// computed once for the bar set and again only for a record whose bars
// differ (an Rft that left no usable bars, a rews).
void CompareBarSet(const BarSet& set, uint64_t seed, Differences& d, Tally& tally)
{
    const bool directNoProfile = seed % DirectReferenceEvery == 0;
    bool directNoProfileDone = false;
    EngineState linesOf{};
    ReferenceLines lines{};
    bool haveLines = false;
    for (int config = 0; config < ConfigsPerBarSet; ++config) {
        std::string what;
        const uint64_t configSeed = seed * ConfigsPerBarSet + static_cast<uint64_t>(config);
        const EngineState s = Configure(set, config, configSeed, what);
        const std::string state = set.name + ", config " + std::to_string(config) + " (" + what + ")";
        if (!haveLines || !SameLineInputs(s, linesOf)) {
            lines = ComputeReferenceLines(s);
            linesOf = s;
            haveLines = true;
        }
        // The reference's own OpenSignal runs on every profile record and on
        // the first no-profile record of every eighth bar set; the other
        // no-profile records use it assembled from its parts, which saves
        // its 22 line rebuilds.
        const bool direct = s.profileMatched != 0 || (directNoProfile && !directNoProfileDone);
        if (s.profileMatched == 0) directNoProfileDone = true;
        CompareRecord(state, s, lines, direct, d, tally);
        if (config == 0) {
            Rng rng(configSeed);
            CompareKernelEdges(state, s, rng, d);
        }
    }
}

TEST(FastForm, MatchesTheReferenceBitForBit)
{
    std::vector<HistoryFile>& history = History();
    for (const HistoryFile& h : history) {
        ASSERT_GE(h.bars.size(), static_cast<size_t>(10 * SeriesCapacity)) << "cannot read " << BundledDataPath(h.file);
    }
    const int requested = RequestedStateCount();
    const int realBarSets = (LastRealLength - FirstRealLength + 1) * static_cast<int>(history.size());
    const int barSets = (requested + ConfigsPerBarSet - 1) / ConfigsPerBarSet;
    // Every length of every file when the count allows it, else a stride
    // that still spans 90 to 500.
    const int realStride = barSets >= realBarSets ? 1 : (realBarSets + barSets - 1) / barSets;

    Differences d;
    Tally tally;
    int used = 0;
    uint64_t seed = 1;
    for (int length = FirstRealLength; length <= LastRealLength; length += realStride) {
        for (const HistoryFile& h : history) {
            CompareBarSet(RealBarSet(h, length), seed++, d, tally);
            ++used;
        }
    }
    // The fixtures of the decision tests, then synthetic markets.
    const BarSet fixtures[] = {
        {"dip in an uptrend", WithFormingBar(DipInUptrend(), LastClose(DipInUptrend())), 5, 0.00001},
        {"rally in a downtrend", WithFormingBar(RallyInDowntrend(), LastClose(RallyInDowntrend())), 5, 0.00001},
    };
    for (const BarSet& f : fixtures) {
        CompareBarSet(f, seed++, d, tally);
        ++used;
    }
    for (; used < barSets; ++used) {
        const uint64_t s = seed++;
        CompareBarSet(SyntheticBarSet(s), s, d, tally);
    }

    std::printf("[ fast form ] %d records; OpenSignal without profile 0/1/2: %d/%d/%d (score leaves room: %d), "
                "with profile: %d/%d/%d, other: %d; CloseSignal 0/1/2: %d/%d/%d\n",
                tally.states, tally.openAnswers[0][0], tally.openAnswers[0][1], tally.openAnswers[0][2],
                tally.strongScores, tally.openAnswers[1][0], tally.openAnswers[1][1], tally.openAnswers[1][2],
                tally.openAnswers[2][0], tally.closeAnswers[0], tally.closeAnswers[1], tally.closeAnswers[2]);
    tally.paths.Print("the records above");
    EXPECT_EQ(d.Count(), 0);
    EXPECT_GE(tally.states, requested);
    // A comparison of forms that never signal would prove little. Entries
    // without a profile need the score at 13 or more and rising, which few
    // records reach: only a full-size run is sure to see both.
    if (requested < DefaultStateCount) return;
    EXPECT_GT(tally.openAnswers[1][SignalBuy], 0);
    EXPECT_GT(tally.openAnswers[1][SignalSell], 0);
    EXPECT_GT(tally.openAnswers[0][SignalBuy], 0);
    EXPECT_GT(tally.openAnswers[0][SignalSell], 0);
    EXPECT_GT(tally.closeAnswers[SignalBuy], 0);
    EXPECT_GT(tally.closeAnswers[SignalSell], 0);
    // Each way the lazy decision can go was compared at least once.
    for (const std::string& branch : tally.paths.Untaken()) ADD_FAILURE() << "never taken: " << branch;
}

// How often the lazy decision walks each kernel over the bundled history,
// every bar of each file in turn the newest, as the strategy tester's
// default replay asks (a 300-bar window whose newest bar is forming at its
// open, the bid at that open, a spread of 12 points, no position open) and
// as the benchmark's full updates ask (500 complete bars, the bid at the
// last close, a buy open 30 pips above it, so that only buys are allowed).
// It reports what the speed figures rest on; the answers themselves are
// compared above.
TEST(FastForm, LazyPathsOverTheBundledHistory)
{
    constexpr int32_t SpreadPoints = 12;
    constexpr int32_t PositionPips = 30;
    struct Replay {
        const char* name;
        int32_t window;
        bool formingAtOpen;
        bool buyOpen;
    };
    const Replay replays[] = {{"tester's replay, 300 bars, no position", 300, true, false},
                              {"benchmark's updates, 500 bars, a buy open", SeriesCapacity, false, true}};
    for (HistoryFile& h : History()) {
        ASSERT_GE(h.bars.size(), static_cast<size_t>(SeriesCapacity)) << "cannot read " << BundledDataPath(h.file);
        const std::string profile = std::string(h.file).substr(0, 6);
        for (const char* symbol : {profile.c_str(), "XAUUSD"}) {
            for (const Replay& r : replays) {
                PathTally tally;
                int ticks = 0;
                for (size_t end = static_cast<size_t>(r.window); end <= h.bars.size(); ++end) {
                    BarRecord* window = h.bars.data() + end - static_cast<size_t>(r.window);
                    BarRecord& newest = window[r.window - 1];
                    const BarRecord complete = newest;
                    if (r.formingAtOpen) newest = Bar(newest.open, newest.open, newest.open, newest.open, 1.0);
                    const double bid = newest.close;
                    const double pip = 10.0 * h.point;
                    const BarIngestion in{r.window, window, r.window, window, r.window, window, r.window,
                                          bid + SpreadPoints * h.point, bid, h.digits, h.point,
                                          r.buyOpen ? bid + PositionPips * pip : 0.0, 0, 4};
                    EngineState s{};
                    Rft(s, in);
                    IniAll(s, symbol, "USD");
                    newest = complete;
                    EntryPath path{};
                    DecideOpenSignal(s, path);
                    tally.Add(path);
                    ++ticks;
                }
                const std::string title = std::string(h.file) + " as " + symbol + ", " + r.name + ": " +
                                          std::to_string(ticks) + " decisions";
                tally.Print(title.c_str());
                EXPECT_GT(ticks, 0);
            }
        }
    }
}

// The single-value line query of the fast form at every kind and every
// index, on bar counts at the edges of each line's range.
TEST(FastForm, EveryLineAtEveryIndex)
{
    Rng rng(77);
    for (const int bars : {96, 97, 98, 99, 128, 129, 160, 161, 500}) {
        const BarSet set{"", SyntheticMarket(rng, bars, 1.2, 0.00001), 5, 0.00001};
        EngineState s{};
        Feed(s, set, QuoteFor(rng, set), Position{0.0, 0});
        const int32_t L = s.lastBarIndex;
        // Every boundary of a range lies within 40 of index 0 or 140 of L.
        const auto skipped = [L](int32_t x) { return x > 40 && x < L - 140; };
        for (int32_t kind = 0; kind <= 6; ++kind) {
            for (int32_t x = -40; x <= L + 40; ++x) {
                if (skipped(x)) continue;
                ASSERT_TRUE(SameResult(ComputeIchimokuLine(s, kind, x), reference::ComputeIchimokuLine(s, kind, x)))
                    << "bars " << bars << " kind " << kind << " index " << x;
            }
        }
        for (const int32_t x : {INT32_MIN, INT32_MIN + 1, INT32_MAX - 31, INT32_MAX}) {
            for (int32_t kind = 1; kind <= 5; ++kind) {
                EXPECT_EQ(ComputeIchimokuLine(s, kind, x), 0.0) << "kind " << kind << " index " << x;
            }
        }
    }
}

}  // namespace
}  // namespace torvik
