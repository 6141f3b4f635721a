// The cost of each export's work on real EURUSD hourly bars. Every decision
// runs in its reference form and in the fast form the library uses, side by
// side; the full updates replay the file bar by bar as a chart sees it.

#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "engine/exports.h"
#include "market/bar_ingestion.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "signals/reference/entry_signal.h"
#include "signals/reference/exit_signal.h"
#include "support/csv_bars.h"

namespace {

using namespace torvik;
using torvik::testing::Bars;

constexpr int32_t Digits = 5;
constexpr double Point = 0.00001;
constexpr double Pip = 0.0001;  // pip mode 4: a pip is ten points
constexpr int32_t PipMode = 4;
constexpr double SpreadPoints = 12.0;
constexpr const char* ProfileSymbol = "EURUSD";
constexpr const char* PlainSymbol = "XAUUSD";  // contains no profile's code
constexpr const char* Currency = "USD";
constexpr int32_t PositionTypeBuy = 0;
// A buy open this far above the bid: the pre-filter allows a further buy,
// so the entry tests always run, and the exit rules have a position to test.
constexpr double PositionAbove = 30 * Pip;

const Bars& History()
{
    static const Bars bars = torvik::testing::ReadBarFile(torvik::testing::BundledDataPath("EURUSD_H1.csv"));
    return bars;
}

// One tick as the host passes it: `count` bars ending before bar `end` of
// the file, the newest one forming at its close.
BarIngestion TickAt(size_t end, int32_t count, bool withPosition)
{
    const BarRecord* bars = History().data() + end - static_cast<size_t>(count);
    const double bid = bars[count - 1].close;
    return BarIngestion{count, bars, count, bars, count, bars, count, bid + SpreadPoints * Point, bid, Digits,
                        Point, withPosition ? bid + PositionAbove : 0.0, PositionTypeBuy, PipMode};
}

// Walks the file one bar per update, and wraps.
class Replay {
public:
    explicit Replay(int32_t count) : count_(count), end_(static_cast<size_t>(count)) {}
    BarIngestion Next(bool withPosition)
    {
        if (++end_ > History().size()) end_ = static_cast<size_t>(count_);
        return TickAt(end_, count_, withPosition);
    }

private:
    int32_t count_;
    size_t end_;
};

struct FastForm {
    static int32_t Open(EngineState& s) { return torvik::OpenSignal(s); }
    static int32_t Close(const EngineState& s) { return torvik::CloseSignal(s); }
};
struct ReferenceForm {
    static int32_t Open(EngineState& s) { return reference::OpenSignal(s); }
    static int32_t Close(const EngineState& s) { return reference::CloseSignal(s); }
};

EngineState Calibrated(const BarIngestion& tick, const char* symbol)
{
    EngineState s{};
    Rft(s, tick);
    IniAll(s, symbol, Currency);
    return s;
}

// Whether the score leaves an entry possible: only then does the fast form
// compute the kernels of an unmatched instrument.
bool ScoreLeavesRoom(EngineState s)
{
    s.buyEntryAllowed = 0;
    s.sellEntryAllowed = 0;
    UpdateEntryPermissions(s);
    return DecideEntry(s, true, true, ComputeIchimokuScore(s, 0), ComputeIchimokuScore(s, 1)) != SignalNone;
}

// The first 500-bar tick of the file whose no-profile score does (or does
// not) leave room for an entry.
EngineState PlainState(bool room)
{
    for (size_t end = SeriesCapacity; end <= History().size(); ++end) {
        const EngineState s = Calibrated(TickAt(end, SeriesCapacity, true), PlainSymbol);
        if (ScoreLeavesRoom(s) == room) return s;
    }
    return EngineState{};
}

// Whether the entry tests of this record can only be decided with all three
// walked kernels: a side that its position allows passes every condition
// that needs no walk, its %R alone opens none of the alternatives that use
// the wider gap (so the CCI counts), and it passes the volatility gate and
// the CCI level, so that only the distance to the smoothed average is left.
bool NeedsEveryKernel(EngineState s)
{
    s.buyEntryAllowed = 0;
    s.sellEntryAllowed = 0;
    UpdateEntryPermissions(s);
    const EntryInputs in = GatherEntryInputs(s);
    if (static_cast<double>(s.minAtrPips) * s.pipSize >= in.atr) return false;
    const double cciLevel = static_cast<double>(s.cciLevel);
    const bool buy = s.buyEntryAllowed == 1 && in.c1 - s.bidPrice >= -s.pipTolerance &&
                     in.wprB <= s.wprBuyLevel3 && !(in.wprA < s.wprBuyLevel2) && in.cci < -cciLevel;
    const bool sell = s.sellEntryAllowed == 1 && in.c1 - s.bidPrice <= s.pipTolerance &&
                      in.wprB >= s.wprSellLevel3 && !(in.wprA > s.wprSellLevel2) && in.cci > cciLevel;
    return buy || sell;
}

// The first 500-bar tick of the file, with a profile, whose entry tests need
// every walked kernel: the slowest entry decision on real bars.
EngineState EveryKernelState()
{
    for (size_t end = SeriesCapacity; end <= History().size(); ++end) {
        const EngineState s = Calibrated(TickAt(end, SeriesCapacity, true), ProfileSymbol);
        if (NeedsEveryKernel(s)) return s;
    }
    return EngineState{};
}

void BM_Rft(benchmark::State& state, int32_t count)
{
    EngineState s{};
    Replay replay(count);
    for (auto _ : state) {
        const BarIngestion tick = replay.Next(true);
        benchmark::DoNotOptimize(Rft(s, tick));
        benchmark::ClobberMemory();
    }
}

void BM_IniAll(benchmark::State& state, const char* symbol)
{
    EngineState s = Calibrated(TickAt(History().size(), 300, true), symbol);
    for (auto _ : state) {
        benchmark::DoNotOptimize(IniAll(s, symbol, Currency));
        benchmark::ClobberMemory();
    }
}

template <typename Form>
void BM_OpenSignal(benchmark::State& state, EngineState s)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(Form::Open(s));
        benchmark::ClobberMemory();
    }
}

template <typename Form>
void BM_CloseSignal(benchmark::State& state, EngineState s)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(Form::Close(s));
        benchmark::ClobberMemory();
    }
}

// 2 % of 10,000 sized in steps of 0.01: the plain case fits the margin;
// the other needs some thousand cut-backs of the minimum lot to fit.
void BM_LOT(benchmark::State& state, double marginPerLot)
{
    const LotRequest r{0.1, 2.0, 1.0, 0.01, 50.0, 0.01, 1000, 10000.0, marginPerLot, 1, "EURUSD"};
    for (auto _ : state) {
        benchmark::DoNotOptimize(LOT(r));
        benchmark::ClobberMemory();
    }
}

// Rft, IniAll, both questions and the seven getters, with a position open.
template <typename Form>
void BM_FullUpdate(benchmark::State& state, int32_t count, const char* symbol)
{
    EngineState s{};
    Replay replay(count);
    for (auto _ : state) {
        Rft(s, replay.Next(true));
        IniAll(s, symbol, Currency);
        benchmark::DoNotOptimize(Form::Close(s));
        benchmark::DoNotOptimize(Form::Open(s));
        benchmark::DoNotOptimize(PoTP(s) + PoSL(s) + Dpp(s));
        benchmark::DoNotOptimize(DSP(s) + DCloseSP(s) + HHH_1(s) + HHH_2(s));
        benchmark::ClobberMemory();
    }
}

// The same through the library's exports, as the expert advisor calls them.
void BM_FullUpdateExports(benchmark::State& state, int32_t count, const char* symbol)
{
    Replay replay(count);
    for (auto _ : state) {
        const BarIngestion t = replay.Next(true);
        ::Rft(t.barCount, t.refBars, t.refBarsTotal, t.seriesBars, t.seriesBarsTotal, t.extraBars, t.extraBarsTotal,
              t.ask, t.bid, t.digits, t.point, t.positionOpenPrice, t.positionType, t.pipMode);
        ::IniAll(symbol, Currency);
        benchmark::DoNotOptimize(::CloseSignal());
        benchmark::DoNotOptimize(::OpenSignal());
        benchmark::DoNotOptimize(::PoTP() + ::PoSL() + ::Dpp());
        benchmark::DoNotOptimize(::DSP() + ::DCloseSP() + ::HHH_1() + ::HHH_2());
        benchmark::ClobberMemory();
    }
}

// The cheapest export, whose cost is mostly the call and the floating-point
// guard of the export layer, next to the same getter called directly. The
// caller's MXCSR is the default one, or one the guard must switch away from
// and back to on every call (toward zero, flush-to-zero, denormals-are-zero).
constexpr uint32_t DefaultMxcsr = 0x1F80;
constexpr uint32_t HostileMxcsr = 0xFFC0;

void BM_GetterExport(benchmark::State& state, uint32_t mxcsr)
{
    const uint32_t home = _mm_getcsr();
    _mm_setcsr(mxcsr);
    for (auto _ : state) benchmark::DoNotOptimize(::DSP());
    _mm_setcsr(home);
}

void BM_GetterDirect(benchmark::State& state)
{
    const EngineState s = Calibrated(TickAt(History().size(), 300, true), ProfileSymbol);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DSP(s));
        benchmark::ClobberMemory();
    }
}

template <typename... Args>
void Register(const std::string& name, Args&&... args)
{
    benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...);
}

// Each decision case in both forms, reference first.
template <typename Case>
void RegisterPair(const std::string& name, Case fn)
{
    Register(name + "/reference", fn(ReferenceForm{}));
    Register(name + "/fast", fn(FastForm{}));
}

}  // namespace

int main(int argc, char** argv)
{
    if (History().size() < 2 * SeriesCapacity) {
        std::fprintf(stderr, "cannot read %s\n", torvik::testing::BundledDataPath("EURUSD_H1.csv").c_str());
        return 1;
    }
    for (const int32_t count : {100, 300, 500}) Register("Rft/" + std::to_string(count), BM_Rft, count);
    Register("IniAll/profile", BM_IniAll, ProfileSymbol);
    Register("IniAll/no_profile", BM_IniAll, PlainSymbol);

    const EngineState profile = Calibrated(TickAt(History().size(), SeriesCapacity, true), ProfileSymbol);
    const EngineState plainGated = PlainState(false);
    const EngineState plainRoom = PlainState(true);
    auto open = [](const EngineState& s) {
        return [s](auto form) {
            return [s](benchmark::State& st) { BM_OpenSignal<decltype(form)>(st, s); };
        };
    };
    RegisterPair("OpenSignal/500/profile", open(profile));
    RegisterPair("OpenSignal/500/profile_every_kernel", open(EveryKernelState()));
    RegisterPair("OpenSignal/500/no_profile", open(plainGated));
    RegisterPair("OpenSignal/500/no_profile_score_leaves_room", open(plainRoom));
    RegisterPair("CloseSignal/500", [&profile](auto form) {
        return [s = profile](benchmark::State& st) { BM_CloseSignal<decltype(form)>(st, s); };
    });
    Register("LOT", BM_LOT, 100.0);
    Register("LOT/margin_cut_back", BM_LOT, 1000.0);

    Register("Getter/direct", BM_GetterDirect);
    Register("Getter/export", BM_GetterExport, DefaultMxcsr);
    Register("Getter/export_hostile_mxcsr", BM_GetterExport, HostileMxcsr);

    for (const int32_t count : {300, 500}) {
        for (const char* symbol : {ProfileSymbol, PlainSymbol}) {
            const std::string name = "FullUpdate/" + std::to_string(count) + (symbol == ProfileSymbol ? "/profile" : "/no_profile");
            RegisterPair(name, [count, symbol](auto form) {
                return [count, symbol](benchmark::State& st) { BM_FullUpdate<decltype(form)>(st, count, symbol); };
            });
            Register(name + "/fast_exports", BM_FullUpdateExports, count, symbol);
        }
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
