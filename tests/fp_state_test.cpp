// The exports give the same bits whatever floating-point state the host calls
// them in, and hand that state back as they found it. The 32-bit build runs
// this under qemu-i386, the Windows DLLs run the same calls in the wine load
// test.
#include "engine/exports.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "calibration/calibration.h"
#include "engine/engine_state.h"
#include "market/bar_ingestion.h"
#include "messages/error_description.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "support/csv_bars.h"
#include "support/fp_answers.h"

namespace torvik {
namespace {

using namespace testing;

struct LinkedExports {
    decltype(&::Rft) Rft = &::Rft;
    decltype(&::IniAll) IniAll = &::IniAll;
    decltype(&::LOT) LOT = &::LOT;
    decltype(&::OpenSignal) OpenSignal = &::OpenSignal;
    decltype(&::CloseSignal) CloseSignal = &::CloseSignal;
    decltype(&::rews) rews = &::rews;
    decltype(&::ErrorDescription) ErrorDescription = &::ErrorDescription;
    decltype(&::PoTP) PoTP = &::PoTP;
    decltype(&::PoSL) PoSL = &::PoSL;
    decltype(&::Dpp) Dpp = &::Dpp;
    decltype(&::DSP) DSP = &::DSP;
    decltype(&::DCloseSP) DCloseSP = &::DCloseSP;
    decltype(&::HHH_1) HHH_1 = &::HHH_1;
    decltype(&::HHH_2) HHH_2 = &::HHH_2;
};

// The same calls straight into the engine, past the export layer and its
// guard, on a record of their own.
struct UnguardedEngine {
    EngineState* s;
    int32_t Rft(int32_t n, const BarRecord* r, int32_t rt, const BarRecord* b, int32_t bt, const BarRecord* e,
                int32_t et, double ask, double bid, int32_t digits, double point, double open, int32_t type,
                int32_t pipMode) const
    {
        return torvik::Rft(*s, BarIngestion{n, r, rt, b, bt, e, et, ask, bid, digits, point, open, type, pipMode});
    }
    int32_t IniAll(const char* symbol, const char* currency) const { return torvik::IniAll(*s, symbol, currency); }
    double LOT(double fixedLot, double risk, double multiplier, double minLot, double maxLot, double step,
               int32_t divisor, double funds, double margin, int32_t split, const char* symbol) const
    {
        return torvik::LOT(LotRequest{fixedLot, risk, multiplier, minLot, maxLot, step, divisor, funds, margin, split,
                                      symbol});
    }
    int32_t OpenSignal() const { return torvik::OpenSignal(*s); }
    int32_t CloseSignal() const { return torvik::CloseSignal(*s); }
    int32_t rews() const { return torvik::rews(*s); }
    const char* ErrorDescription(int32_t code) const { return EnglishErrorDescription(code); }
    double PoTP() const { return torvik::PoTP(*s); }
    double PoSL() const { return torvik::PoSL(*s); }
    double Dpp() const { return torvik::Dpp(*s); }
    int32_t DSP() const { return torvik::DSP(*s); }
    int32_t DCloseSP() const { return torvik::DCloseSP(*s); }
    int32_t HHH_1() const { return torvik::HHH_1(*s); }
    int32_t HHH_2() const { return torvik::HHH_2(*s); }
};

const std::vector<FpTick>& Ticks()
{
    static const Bars history = ReadBarFile(BundledDataPath("EURUSD_H1.csv"));
    static const std::vector<FpTick> ticks = FpTicks(history);
    return ticks;
}

class FpStateTest : public ::testing::Test {
protected:
    void SetUp() override { engineState = EngineState{}; }
    void TearDown() override { engineState = EngineState{}; }
};

TEST_F(FpStateTest, EveryAnswerIsTheSameInEveryCallerStateAndTheStateComesBack)
{
    ASSERT_GT(Ticks().size(), 1000u) << "cannot read " << BundledDataPath("EURUSD_H1.csv");
    const FpState home = ReadFpState();
    const FpAnswers expected = CallEveryExport(LinkedExports{}, Ticks(), home);
    EXPECT_EQ(expected.stateChanged, 0);
    for (const HostileState& h : HostileStates) {
        SCOPED_TRACE(h.name);
        engineState = EngineState{};
        const FpAnswers got = CallEveryExport(LinkedExports{}, Ticks(), Hostile(h, home));
        EXPECT_EQ(got.stateChanged, 0) << "calls that left the caller another state";
        EXPECT_EQ(CountDifferences(expected.bits, got.bits), 0) << "of " << expected.bits.size() << " answers differ";
    }
    EXPECT_EQ(ReadFpState(), home);
}

// Without the export layer the first hostile state does change answers: the
// test above would catch a missing guard, and the machine (or emulator) it
// runs on honours these modes. Only masked states: unmasked ones trap here.
TEST_F(FpStateTest, TheEngineItselfAnswersDifferentlyInAHostileState)
{
    const HostileState& hostile = HostileStates[0];
    ASSERT_NE(hostile.mxcsr & MxcsrMasks, 0u);
    const FpState home = ReadFpState();
    EngineState record{};
    const FpAnswers expected = CallEveryExport(UnguardedEngine{&record}, Ticks(), home);
    record = EngineState{};
    const FpAnswers got = CallEveryExport(UnguardedEngine{&record}, Ticks(), Hostile(hostile, home));
    const int differ = CountDifferences(expected.bits, got.bits);
    std::printf("unguarded engine, %s: %d of %zu answers differ\n", hostile.name, differ, expected.bits.size());
    EXPECT_GT(differ, 0);
}

}  // namespace
}  // namespace torvik
