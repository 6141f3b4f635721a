#include "signals/reference/ichimoku.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/random_bars.h"

namespace torvik {
namespace {

using namespace testing;

// The midpoint read straight off its definition, without the engine's scan.
double Midpoint(const EngineState& s, int x, int window)
{
    const double hi = *std::max_element(s.highSeries + x, s.highSeries + x + window);
    const double lo = *std::min_element(s.lowSeries + x, s.lowSeries + x + window);
    return (hi + lo) * 0.5;
}

// Every line at every index from the definitions of the lines.
double Expected(const EngineState& s, int kind, int x)
{
    const int L = s.lastBarIndex;
    auto conversion = [&](int i) { return i <= L - 16 ? Midpoint(s, i, 16) : 0.0; };
    auto base = [&](int i) { return i <= L - 32 ? Midpoint(s, i, 32) : 0.0; };
    switch (kind) {
    case ConversionLine:
        return x >= 0 && x <= L - 1 ? conversion(x) : 0.0;
    case BaseLine:
        return x >= 0 && x <= L - 1 ? base(x) : 0.0;
    case LeadingSpanA:
        return x >= -32 && x + 32 <= L - 31 ? (base(x + 32) + conversion(x + 32)) * 0.5 : 0.0;
    case LeadingSpanB:
        return x >= -32 && x + 32 <= L - 96 ? Midpoint(s, x + 32, 96) : 0.0;
    case LaggingLine:
        return x >= 32 && x <= L + 31 ? s.closeSeries[x - 32] : 0.0;
    default:
        return 0.0;
    }
}

EngineState FedWith(const Bars& bars)
{
    EngineState s{};
    Feed(s, bars, Market{1.2, 1.2, 5, 0.00001, 0.0, 0, 4});
    return s;
}

TEST(ComputeIchimokuLine, EveryLineAtEveryIndexMatchesItsDefinition)
{
    for (const int bars : {98, 99, 130, 131, 200, 500}) {
        const EngineState s = FedWith(RandomWalk(bars, static_cast<uint32_t>(bars)));
        const int L = s.lastBarIndex;
        for (int kind = 0; kind <= 6; ++kind) {
            for (int x = -40; x <= L + 40; ++x) {
                ASSERT_EQ(reference::ComputeIchimokuLine(s, kind, x), Expected(s, kind, x))
                    << "bars " << bars << " kind " << kind << " index " << x;
            }
        }
    }
}

TEST(ComputeIchimokuLine, NeedsNinetyEightBars)
{
    const EngineState s97 = FedWith(RandomWalk(97, 1));
    for (int kind = 1; kind <= 5; ++kind) {
        for (const int x : {-32, 0, 1, 32, 33}) EXPECT_EQ(reference::ComputeIchimokuLine(s97, kind, x), 0.0);
    }
    const EngineState s98 = FedWith(RandomWalk(98, 1));
    EXPECT_NE(reference::ComputeIchimokuLine(s98, ConversionLine, 0), 0.0);
    EXPECT_NE(reference::ComputeIchimokuLine(s98, LeadingSpanB, -32), 0.0);
}

TEST(ComputeIchimokuLine, EdgesOfTheComputedRanges)
{
    const EngineState s = FedWith(RandomWalk(300, 7));
    const int L = s.lastBarIndex;
    EXPECT_EQ(reference::ComputeIchimokuLine(s, ConversionLine, L - 15), 0.0);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, ConversionLine, L - 16), Midpoint(s, L - 16, 16));
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LeadingSpanB, L - 128), Midpoint(s, L - 96, 96));
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LeadingSpanB, L - 127), 0.0);
    // Span A's oldest entry averages a zero base line with the conversion line.
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LeadingSpanA, L - 63), Midpoint(s, L - 31, 16) * 0.5);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LeadingSpanA, -32),
              (reference::ComputeIchimokuLine(s, ConversionLine, 0) + reference::ComputeIchimokuLine(s, BaseLine, 0)) * 0.5);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LaggingLine, 31), 0.0);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LaggingLine, 32), s.closeSeries[0]);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LaggingLine, 33), s.closeSeries[1]);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LaggingLine, L + 31), s.closeSeries[L - 1]);  // close of bar L unused
}

TEST(ComputeIchimokuLine, ConstantWindowGivesItsMidpoint)
{
    const EngineState s = FedWith(Flat(150, 1.25, 0.5));
    EXPECT_EQ(reference::ComputeIchimokuLine(s, ConversionLine, 3), 1.25);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, BaseLine, 3), 1.25);
    EXPECT_EQ(reference::ComputeIchimokuLine(s, LeadingSpanB, 3), 1.25);
}

TEST(ComputeIchimokuLine, UnusableLastBarIndexReadsNothing)
{
    EngineState s = FedWith(RandomWalk(300, 3));
    s.lastBarIndex = 5000;  // what a rejected oversized Rft leaves
    for (int kind = 1; kind <= 5; ++kind) EXPECT_EQ(reference::ComputeIchimokuLine(s, kind, 33), 0.0);
}

}  // namespace
}  // namespace torvik
