// Bad input at the boundary, through the exports as a host calls them. The
// sanitizer build runs these too, so an overflow or a read outside an array
// on the way fails them even where the answer happens to come out right.
#include "engine/exports.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "engine/engine_state.h"
#include "support/random_bars.h"

namespace torvik {
namespace {

using namespace testing;

struct Host {
    Bars bars = RandomWalk(300, 7);
    double bid = bars.back().close;
    double positionOpenPrice = 0.0;

    int32_t Rft(int32_t barCount) const
    {
        const int32_t n = static_cast<int32_t>(bars.size());
        return ::Rft(barCount, bars.data(), n, bars.data(), n, bars.data(), n, bid + 0.00012, bid, 5, 0.00001,
                     positionOpenPrice, 0, 4);
    }
    // A calibrated record whose periods are all at least 1, so every kernel
    // runs, then an Rft with the given barCount.
    void UpdateThenRft(int32_t barCount) const
    {
        engineState = EngineState{};
        Rft(300);
        ::IniAll("EURUSD", "USD");
        Rft(barCount);
    }
};

// A barCount of 0 or less, or one the series cannot hold, leaves lastBarIndex
// negative (down to -2147483648 when barCount is -2147483647) or beyond the
// series; the decisions must then see no bars, exactly as with barCount 0.
TEST(Hardening, BarCountsThatLeaveNoUsableBarsDecideAsWithNone)
{
    for (const double openPrice : {0.0, 1.3}) {
        Host host;
        host.positionOpenPrice = openPrice;
        host.UpdateThenRft(0);
        const int32_t open = ::OpenSignal();
        const int32_t close = ::CloseSignal();
        EXPECT_EQ(open, 0);

        for (const int32_t barCount : {-1, -2, INT32_MIN + 1, INT32_MIN, 501, INT32_MAX}) {
            host.UpdateThenRft(barCount);
            EXPECT_EQ(::OpenSignal(), open) << "barCount " << barCount << ", open price " << openPrice;
            EXPECT_EQ(::CloseSignal(), close) << "barCount " << barCount << ", open price " << openPrice;
        }
    }
}

}  // namespace
}  // namespace torvik
