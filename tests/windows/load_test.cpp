// Loads TORVIK_ENG.dll and TORVIK_RUS.dll the way the terminal does: by file
// name with LoadLibrary, every export by its plain name with GetProcAddress.
// Then runs update sequences through the DLLs and checks the answers against
// fixed values and against the same engine linked into this program. Both
// DLLs must give the same numbers; only their texts differ. Last, every
// export over real EURUSD windows, called in hostile floating-point states,
// must answer the same bits as in the default state and give the state back.
//
// Usage: torvik_load_test [folder of the DLLs]; by default the program's own
// folder, where the build puts it next to the DLLs.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "market/bar_ingestion.h"
#include "market/bar_record.h"
#include "messages/error_description.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "support/csv_bars.h"
#include "support/fp_answers.h"

namespace {

using torvik::BarRecord;

int passed = 0;
int failed = 0;

void Check(bool ok, const char* library, const char* what, int line)
{
    if (ok) {
        ++passed;
        return;
    }
    ++failed;
    std::printf("FAIL %s: %s (line %d)\n", library, what, line);
}
#define CHECK(lib, cond) Check((cond), (lib).file, #cond, __LINE__)

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The host calls with stdcall; on x86-64 there is one convention and the
// keyword is ignored.
using RftFn = int32_t(__stdcall*)(int32_t, const BarRecord*, int32_t, const BarRecord*, int32_t, const BarRecord*,
                                  int32_t, double, double, int32_t, double, double, int32_t, int32_t);
using IniAllFn = int32_t(__stdcall*)(const char*, const char*);
using LotFn = double(__stdcall*)(double, double, double, double, double, double, int32_t, double, double, int32_t,
                                 const char*);
using IntFn = int32_t(__stdcall*)();
using DoubleFn = double(__stdcall*)();
using TextFn = const char*(__stdcall*)(int32_t);

struct Library {
    const char* file;
    bool russian;
    HMODULE module;
    RftFn Rft;
    IniAllFn IniAll;
    LotFn LOT;
    IntFn OpenSignal, CloseSignal, rews, DSP, DCloseSP, HHH_1, HHH_2;
    TextFn ErrorDescription;
    DoubleFn PoTP, PoSL, Dpp;
};

template <typename Fn>
bool Resolve(Library& lib, const char* name, Fn& fn)
{
    const FARPROC p = GetProcAddress(lib.module, name);
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
    if (p == nullptr) std::printf("FAIL %s: export %s not found by its plain name\n", lib.file, name);
    return p != nullptr;
}

bool Load(Library& lib, const std::string& folder)
{
    const std::string path = folder.empty() ? std::string(lib.file) : folder + "\\" + lib.file;
    lib.module = LoadLibraryA(path.c_str());
    if (lib.module == nullptr) {
        std::printf("FAIL %s: LoadLibrary(%s) failed, error %lu\n", lib.file, path.c_str(), GetLastError());
        return false;
    }
    bool ok = true;
    ok &= Resolve(lib, "Rft", lib.Rft);
    ok &= Resolve(lib, "IniAll", lib.IniAll);
    ok &= Resolve(lib, "LOT", lib.LOT);
    ok &= Resolve(lib, "OpenSignal", lib.OpenSignal);
    ok &= Resolve(lib, "CloseSignal", lib.CloseSignal);
    ok &= Resolve(lib, "rews", lib.rews);
    ok &= Resolve(lib, "ErrorDescription", lib.ErrorDescription);
    ok &= Resolve(lib, "PoTP", lib.PoTP);
    ok &= Resolve(lib, "PoSL", lib.PoSL);
    ok &= Resolve(lib, "Dpp", lib.Dpp);
    ok &= Resolve(lib, "DSP", lib.DSP);
    ok &= Resolve(lib, "DCloseSP", lib.DCloseSP);
    ok &= Resolve(lib, "HHH_1", lib.HHH_1);
    ok &= Resolve(lib, "HHH_2", lib.HHH_2);
    // Plain names only: no decorated stdcall aliases beside them.
    for (const char* decorated : {"Rft@72", "_Rft@72", "LOT@76", "_LOT@76", "ErrorDescription@4", "_OpenSignal@0"}) {
        const bool absent = GetProcAddress(lib.module, decorated) == nullptr;
        Check(absent, lib.file, decorated, __LINE__);
    }
    if (ok) ++passed;
    else ++failed;
    return ok;
}

// A synthetic chart, oldest bar first as the host passes it: a slow wave with
// a drift and a faster ripple, five-digit quotes.
constexpr int32_t ChartBars = 400;
BarRecord chart[ChartBars];

void MakeChart()
{
    for (int32_t i = 0; i < ChartBars; ++i) {
        const double x = static_cast<double>(i);
        const double open = 1.1 + 0.004 * std::sin(x * 0.05) + 0.00002 * x;
        const double close = open + 0.0006 * std::sin(x * 0.37);
        const double top = open > close ? open : close;
        const double bottom = open < close ? open : close;
        chart[i].time = 1600000000u + 3600u * static_cast<uint32_t>(i);
        chart[i].open = open;
        chart[i].low = bottom - 0.0002 - 0.00005 * static_cast<double>(i % 7);
        chart[i].high = top + 0.0003 + 0.00004 * static_cast<double>(i % 5);
        chart[i].close = close;
        chart[i].volume = 100.0 + static_cast<double>((i * 37) % 150);
    }
}

void CheckFreshOrReset(Library& lib)
{
    CHECK(lib, SameDouble(lib.PoTP(), 0.0));
    CHECK(lib, SameDouble(lib.PoSL(), 0.0));
    CHECK(lib, SameDouble(lib.Dpp(), 0.0));
    CHECK(lib, lib.DSP() == 0);
    CHECK(lib, lib.DCloseSP() == 0);
    CHECK(lib, lib.HHH_1() == 0);
    CHECK(lib, lib.HHH_2() == 0);
}

// One update through the DLL and through the engine linked here, which must
// agree bit for bit.
struct Update {
    int32_t barCount;
    double positionOpenPrice;
    int32_t positionType;
    const char* symbol;
};

torvik::EngineState reference{};

void RunUpdate(Library& lib, const Update& u)
{
    const double bid = chart[ChartBars - 1].close;
    const double ask = bid + 0.00012;
    const int32_t pipMode = 4;  // five-digit quotes: a pip is ten points
    const torvik::BarIngestion in{u.barCount, chart, ChartBars, chart, ChartBars, chart, ChartBars, ask, bid, 5,
                                  0.00001, u.positionOpenPrice, u.positionType, pipMode};

    CHECK(lib, lib.Rft(in.barCount, in.refBars, in.refBarsTotal, in.seriesBars, in.seriesBarsTotal, in.extraBars,
                       in.extraBarsTotal, in.ask, in.bid, in.digits, in.point, in.positionOpenPrice,
                       in.positionType, in.pipMode) == 0);
    CHECK(lib, lib.IniAll(u.symbol, "USD") == 0);
    torvik::Rft(reference, in);
    torvik::IniAll(reference, u.symbol, "USD");

    CHECK(lib, lib.OpenSignal() == torvik::OpenSignal(reference));
    CHECK(lib, lib.CloseSignal() == torvik::CloseSignal(reference));
    CHECK(lib, SameDouble(lib.PoTP(), torvik::PoTP(reference)));
    CHECK(lib, SameDouble(lib.PoSL(), torvik::PoSL(reference)));
    CHECK(lib, SameDouble(lib.Dpp(), torvik::Dpp(reference)));
    CHECK(lib, lib.DSP() == torvik::DSP(reference));
    CHECK(lib, lib.DCloseSP() == torvik::DCloseSP(reference));
    CHECK(lib, lib.HHH_1() == torvik::HHH_1(reference));
    CHECK(lib, lib.HHH_2() == torvik::HHH_2(reference));
}

// untouched: a library that has not been updated yet, whose record must
// still be as loaded while the other one holds calibrated values.
void CheckUpdates(Library& lib, Library* untouched)
{
    reference = torvik::EngineState{};
    RunUpdate(lib, {300, 0.0, 0, "EURUSD"});
    // A pip of a five-digit quote is ten points, and the profile gives both
    // distances.
    CHECK(lib, SameDouble(lib.Dpp(), 10.0 * 0.00001));
    CHECK(lib, lib.PoTP() > 0.0);
    CHECK(lib, lib.PoSL() > 0.0);
    // An open buy and an open sell, then an instrument without a profile.
    RunUpdate(lib, {300, chart[ChartBars - 1].close - 0.0040, 0, "EURUSD"});
    RunUpdate(lib, {300, chart[ChartBars - 1].close - 0.0040, 1, "EURUSD"});
    RunUpdate(lib, {500 - 100, 0.0, 0, "XAGXAU"});
    RunUpdate(lib, {120, 0.0, 0, "GBPJPY"});
    if (untouched != nullptr) CheckFreshOrReset(*untouched);

    CHECK(lib, lib.rews() == 0);
    CheckFreshOrReset(lib);
}

void CheckLot(Library& lib)
{
    struct Case {
        double riskPercent, riskMultiplier, maxLot, accountFunds;
        int32_t riskSplit;
        const char* symbol;
        double expected;
    };
    // The results are the doubles that rounding to 0.01 produces.
    const Case cases[] = {
        {2.0, 1.0, 100.0, 10000.0, 1, "EURUSD", 20.0 * 0.01},
        {2.0, 2.0, 100.0, 10000.0, 1, "EURUSD", 30.0 * 0.01},
        {2.0, 1.0, 100.0, 10000.0, 2, "EURUSD", 10.0 * 0.01},
        {2.0, 1.0, 100.0, 10000.0, 1, "EURGBP", 0.1},
        {100.0, 1.0, 100.0, 1000.0, 1, "EURUSD", 95.0 * 0.01},
        {2.0, 1.0, 0.15, 10000.0, 1, "EURUSD", 15.0 * 0.01},
        {0.0, 1.0, 100.0, 10000.0, 1, "EURUSD", 0.1},
        {-1.0, 1.0, 100.0, 10000.0, 1, "EURUSD", 0.01},
    };
    for (const Case& c : cases) {
        const double got = lib.LOT(0.1, c.riskPercent, c.riskMultiplier, 0.01, c.maxLot, 0.01, 100000,
                                   c.accountFunds, 1000.0, c.riskSplit, c.symbol);
        const torvik::LotRequest same{0.1,    c.riskPercent,  c.riskMultiplier, 0.01,        c.maxLot, 0.01,
                                      100000, c.accountFunds, 1000.0,           c.riskSplit, c.symbol};
        CHECK(lib, SameDouble(got, c.expected));
        CHECK(lib, SameDouble(got, torvik::LOT(same)));
    }
    CHECK(lib, SameDouble(lib.LOT(0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, nullptr), 0.0));
    CHECK(lib, SameDouble(lib.LOT(0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 0, "EURUSD"), 0.0));
}

bool SameBytes(const char* text, const char* expected)
{
    return text != nullptr && std::strcmp(text, expected) == 0;
}

void CheckTexts(Library& lib)
{
    if (lib.russian) {
        // Code page 1251, one byte a letter.
        CHECK(lib, SameBytes(lib.ErrorDescription(2), "\xCE\xE1\xF9\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0"));
        CHECK(lib, std::strlen(lib.ErrorDescription(2)) == 12);
        const char* unknown = "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0";
        CHECK(lib, SameBytes(lib.ErrorDescription(-1), unknown));
        CHECK(lib, SameBytes(lib.ErrorDescription(4208), unknown));
        const char* limit = lib.ErrorDescription(148);
        CHECK(lib, limit[std::strlen(limit) - 1] == ' ');
    } else {
        CHECK(lib, SameBytes(lib.ErrorDescription(2), "Common error."));
        CHECK(lib, SameBytes(lib.ErrorDescription(-1), "Unknown error"));
        CHECK(lib, SameBytes(lib.ErrorDescription(INT32_MIN), "Unknown error"));
        CHECK(lib, SameBytes(lib.ErrorDescription(148),
                             "The amount of open and pending orders has reached the limit set by the broker."));
    }
    // Every catalogue text arrives through the loader exactly as compiled.
    int same = 0;
    for (const int32_t code : torvik::CatalogueCodes) {
        const char* expected =
            lib.russian ? torvik::RussianErrorDescription(code) : torvik::EnglishErrorDescription(code);
        if (SameBytes(lib.ErrorDescription(code), expected)) ++same;
    }
    CHECK(lib, same == torvik::CatalogueCodeCount);
    // The texts are static: the same pointer on every call.
    CHECK(lib, lib.ErrorDescription(4000) == lib.ErrorDescription(4000));
}

// The run of tests/fp_state_test.cpp, through the DLL.
void CheckFpStates(Library& lib, const std::vector<torvik::testing::FpTick>& ticks)
{
    using namespace torvik::testing;
    const FpState home = ReadFpState();
    const FpAnswers expected = CallEveryExport(lib, ticks, home);
    CHECK(lib, expected.stateChanged == 0);
    for (const HostileState& h : HostileStates) {
        const FpAnswers got = CallEveryExport(lib, ticks, Hostile(h, home));
        const int differ = CountDifferences(expected.bits, got.bits);
        if (got.stateChanged != 0 || differ != 0) {
            std::printf("     %s: %d of %zu answers differ, %d calls changed the caller's state\n", h.name, differ,
                        expected.bits.size(), got.stateChanged);
        }
        Check(got.stateChanged == 0 && differ == 0, lib.file, h.name, __LINE__);
    }
    CHECK(lib, ReadFpState() == home);
}

std::string OwnFolder()
{
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    const std::size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? std::string(argv[1]) : OwnFolder();
    Library eng{};
    eng.file = "TORVIK_ENG.dll";
    Library rus{};
    rus.file = "TORVIK_RUS.dll";
    rus.russian = true;
    if (!Load(eng, folder) || !Load(rus, folder)) {
        std::printf("torvik_load_test: %d passed, %d failed\n", passed, failed + 1);
        return 1;
    }
    MakeChart();

    CheckFreshOrReset(eng);
    CheckFreshOrReset(rus);
    // Each DLL holds its own engine record.
    CheckUpdates(eng, &rus);
    CheckUpdates(rus, nullptr);
    for (Library* lib : {&eng, &rus}) {
        CheckLot(*lib);
        CheckTexts(*lib);
    }

    const std::string barFile = torvik::testing::BundledDataPath("EURUSD_H1.csv");
    const torvik::testing::Bars history = torvik::testing::ReadBarFile(barFile);
    const std::vector<torvik::testing::FpTick> ticks = torvik::testing::FpTicks(history);
    Check(ticks.size() > 1000, barFile.c_str(), "readable bar file", __LINE__);
    for (Library* lib : {&eng, &rus}) CheckFpStates(*lib, ticks);

    FreeLibrary(rus.module);
    FreeLibrary(eng.module);
    std::printf("torvik_load_test: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
