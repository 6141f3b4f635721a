#include "signals/reference/ichimoku.h"

namespace torvik::reference {

namespace {

constexpr int32_t LineCapacity = 2 * SeriesCapacity;

struct IchimokuLines {
    double conversion[LineCapacity];
    double base[LineCapacity];
    double spanA[LineCapacity];
    double spanB[LineCapacity];
    double lagging[LineCapacity];
};

// L is at least IchimokuMinLastBarIndex and at most SeriesCapacity. Entries that
// no window fills stay zero.
void BuildLines(const EngineState& s, int32_t L, IchimokuLines& lines)
{
    lines = IchimokuLines{};
    for (int32_t x = L - ConversionWindow; x >= 0; --x) {
        lines.conversion[x] = WindowMidpoint(s, x, ConversionWindow);
    }
    for (int32_t x = L - BaseWindow; x >= 0; --x) {
        lines.base[x] = WindowMidpoint(s, x, BaseWindow);
    }
    for (int32_t x = L - (BaseWindow - 1); x >= 0; --x) {
        lines.spanA[x] = (lines.base[x] + lines.conversion[x]) * 0.5;
    }
    for (int32_t x = L - SpanBWindow; x >= 0; --x) {
        lines.spanB[x] = WindowMidpoint(s, x, SpanBWindow);
    }
    // The close of bar L is not used.
    for (int32_t x = L - 1; x >= 0; --x) {
        lines.lagging[x + IchimokuShift] = s.closeSeries[x];
    }
}

bool Within(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

}  // namespace

double WindowMidpoint(const EngineState& s, int32_t x, int32_t window)
{
    double highest = s.highSeries[x];
    double lowest = s.lowSeries[x];
    for (int32_t i = x + 1; i < x + window; ++i) {
        if (s.highSeries[i] > highest) highest = s.highSeries[i];
        if (s.lowSeries[i] < lowest) lowest = s.lowSeries[i];
    }
    return (highest + lowest) * 0.5;
}

double ComputeIchimokuLine(const EngineState& s, int32_t kind, int32_t index)
{
    const int32_t L = UsableLastBarIndex(s);
    if (L < IchimokuMinLastBarIndex) return 0.0;

    IchimokuLines lines;
    BuildLines(s, L, lines);

    switch (kind) {
    case ConversionLine:
        return Within(index, 0, L - 1) ? lines.conversion[index] : 0.0;
    case BaseLine:
        return Within(index, 0, L - 1) ? lines.base[index] : 0.0;
    case LeadingSpanA:
        return Within(index, -IchimokuShift, L - 1 - IchimokuShift) ? lines.spanA[index + IchimokuShift] : 0.0;
    case LeadingSpanB:
        return Within(index, -IchimokuShift, L - 1 - IchimokuShift) ? lines.spanB[index + IchimokuShift] : 0.0;
    case LaggingLine:
        return Within(index, 0, L + IchimokuShift - 1) ? lines.lagging[index] : 0.0;
    default:
        return 0.0;
    }
}

}  // namespace torvik::reference
