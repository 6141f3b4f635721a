// The export layer hands the one engine record to the operations unchanged.
#include "engine/exports.h"

#include <gtest/gtest.h>

#include <cstring>

#include "calibration/calibration.h"
#include "money/lot_sizing.h"
#include "signals/entry_signal.h"
#include "signals/exit_signal.h"
#include "support/fixtures.h"
#include "support/state_compare.h"

namespace torvik {
namespace {

using namespace testing;

TEST(Exports, AnUpdateThroughTheExportsMatchesTheOperations)
{
    const Bars bars = WithFormingBar(DipInUptrend(), LastClose(DipInUptrend()));
    const int32_t n = static_cast<int32_t>(bars.size());
    const double bid = bars.back().close;
    EngineState local{};
    const BarIngestion in{n, bars.data(), n, bars.data(), n, bars.data(), n, bid + 0.00012, bid, 5, 0.00001,
                          0.0, 0, 4};

    EXPECT_EQ(::Rft(n, bars.data(), n, bars.data(), n, bars.data(), n, bid + 0.00012, bid, 5, 0.00001, 0.0, 0, 4),
              0);
    Rft(local, in);
    EXPECT_EQ(::IniAll("EURUSD", "USD"), 0);
    IniAll(local, "EURUSD", "USD");
    EXPECT_EQ(::OpenSignal(), 1);
    EXPECT_EQ(OpenSignal(local), 1);
    EXPECT_EQ(::CloseSignal(), CloseSignal(local));
    EXPECT_EQ(DifferingFields(engineState, local), "");

    EXPECT_EQ(::PoTP(), PoTP(local));
    EXPECT_EQ(::PoTP(), 24 * 0.0001);
    EXPECT_EQ(::PoSL(), PoSL(local));
    EXPECT_EQ(::Dpp(), 0.0001);
    EXPECT_EQ(::DSP(), 20);
    EXPECT_EQ(::DCloseSP(), 30);
    EXPECT_EQ(::HHH_1(), 1);
    EXPECT_EQ(::HHH_2(), 26);

    EXPECT_EQ(::rews(), 0);
    rews(local);
    EXPECT_EQ(DifferingFields(engineState, local), "");
    EXPECT_EQ(::PoTP(), 0.0);
    EXPECT_EQ(::HHH_2(), 0);
}

TEST(Exports, LotAndErrorTextsNeedNoState)
{
    const LotRequest r{0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, "EURUSD"};
    EXPECT_EQ(::LOT(0.1, 2.0, 1.0, 0.01, 100.0, 0.01, 100000, 10000.0, 1000.0, 1, "EURUSD"), LOT(r));
    EXPECT_STREQ(::ErrorDescription(2), "Common error.");
    EXPECT_STREQ(::ErrorDescription(-1), "Unknown error");
}

}  // namespace
}  // namespace torvik
