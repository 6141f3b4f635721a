// Bar fixtures that state a market scenario plainly, and a way to feed them
// to an engine record the way the expert advisor does.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine_state.h"
#include "market/bar_ingestion.h"
#include "market/bar_record.h"

namespace torvik::testing {

using Bars = std::vector<BarRecord>;  // oldest first, as the host passes them

inline BarRecord Bar(double open, double high, double low, double close, double volume = 150.0)
{
    BarRecord b{};
    b.open = open;
    b.high = high;
    b.low = low;
    b.close = close;
    b.volume = volume;
    return b;
}

// Bars whose close moves by step per bar from start, each spanning halfRange
// on both sides of the line through its open and close.
inline Bars Trend(int count, double start, double step, double halfRange, double volume = 150.0)
{
    Bars bars;
    double open = start;
    for (int i = 0; i < count; ++i) {
        const double close = open + step;
        const double hi = (open > close ? open : close) + halfRange;
        const double lo = (open < close ? open : close) - halfRange;
        bars.push_back(Bar(open, hi, lo, close, volume));
        open = close;
    }
    return bars;
}

inline Bars Flat(int count, double price, double halfRange, double volume = 150.0)
{
    return Bars(static_cast<size_t>(count), Bar(price, price + halfRange, price - halfRange, price, volume));
}

inline Bars Then(Bars first, const Bars& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline double LastClose(const Bars& bars) { return bars.back().close; }

struct Market {
    double bid = 0.0;
    double ask = 0.0;
    int32_t digits = 5;
    double point = 0.00001;
    double positionOpenPrice = 0.0;
    int32_t positionType = 0;
    int32_t pipMode = 4;  // a pip is ten points
};

// Rft with the same bars as series, reference and extra arrays.
inline void Feed(EngineState& s, const Bars& bars, const Market& m)
{
    const int32_t n = static_cast<int32_t>(bars.size());
    const BarIngestion in{n, bars.data(), n, bars.data(), n, bars.data(), n, m.ask, m.bid, m.digits,
                          m.point, m.positionOpenPrice, m.positionType, m.pipMode};
    Rft(s, in);
}

}  // namespace torvik::testing

namespace torvik::testing {

inline constexpr double EurPip = 0.0001;

// A steady climb of 3 pips a bar, then a sharp dip of six bars to a new low:
// the close of bar 1 sits at the bottom of its window, well above the average.
inline Bars DipInUptrend()
{
    return Then(Trend(200, 1.1, 3 * EurPip, 5 * EurPip), Trend(6, 1.1 + 600 * EurPip, -8 * EurPip, 0.0));
}

// The mirror image: a steady fall, then a sharp rally to a new high.
inline Bars RallyInDowntrend()
{
    return Then(Trend(200, 1.3, -3 * EurPip, 5 * EurPip), Trend(6, 1.3 - 600 * EurPip, 8 * EurPip, 0.0));
}

// Adds the forming bar at the given price, as it stands on its first tick.
inline Bars WithFormingBar(Bars bars, double price)
{
    bars.push_back(Bar(price, price, price, price, 1.0));
    return bars;
}

}  // namespace torvik::testing
