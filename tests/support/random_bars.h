// Deterministic random walks of bars for tests that sweep many states.
#pragma once

#include <cstdint>
#include <random>

#include "support/fixtures.h"

namespace torvik::testing {

// A walk in steps of whole points, so prices stay on the quote grid.
inline Bars RandomWalk(int count, uint32_t seed, double start = 1.2, double point = 0.00001, int maxStepPoints = 40)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> step(-maxStepPoints, maxStepPoints);
    std::uniform_int_distribution<int> wick(0, maxStepPoints);
    std::uniform_int_distribution<int> volume(20, 900);
    Bars bars;
    double open = start;
    for (int i = 0; i < count; ++i) {
        const double close = open + step(rng) * point;
        const double hi = (open > close ? open : close) + wick(rng) * point;
        const double lo = (open < close ? open : close) - wick(rng) * point;
        bars.push_back(Bar(open, hi, lo, close, volume(rng)));
        open = close;
    }
    return bars;
}

}  // namespace torvik::testing
