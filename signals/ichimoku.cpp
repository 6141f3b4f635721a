#include "signals/ichimoku.h"

namespace torvik {

namespace {

// The running extremes of a window whose newest bar is fixed, widened one
// older bar at a time. A later high replaces the maximum only when strictly
// greater and a later low the minimum only when strictly lower, so equal,
// signed-zero and not-a-number prices resolve as in a scan of each window
// on its own: the longer windows simply continue the shorter one's scan.
struct WindowScan {
    int32_t newest;
    int32_t next;  // the next older bar to take in
    double highest;
    double lowest;
};

WindowScan StartWindowScan(const EngineState& s, int32_t newest)
{
    return WindowScan{newest, newest + 1, s.highSeries[newest], s.lowSeries[newest]};
}

// The midpoint of the window of the given length; the caller keeps its
// oldest bar inside the series and asks for growing lengths.
double MidpointOver(const EngineState& s, WindowScan& scan, int32_t window)
{
    for (; scan.next < scan.newest + window; ++scan.next) {
        if (s.highSeries[scan.next] > scan.highest) scan.highest = s.highSeries[scan.next];
        if (s.lowSeries[scan.next] < scan.lowest) scan.lowest = s.lowSeries[scan.next];
    }
    return (scan.highest + scan.lowest) * 0.5;
}

}  // namespace

IchimokuEntries ComputeIchimokuEntries(const EngineState& s, int32_t x)
{
    IchimokuEntries e{};
    const int32_t L = UsableLastBarIndex(s);
    if (L < IchimokuMinLastBarIndex || x < 0) return e;
    // A window has an entry at x when its oldest bar, x + window - 1, lies
    // below bar L; the conversion window is the shortest, so past its last
    // entry every line is 0.0.
    if (x > L - ConversionWindow) return e;

    WindowScan scan = StartWindowScan(s, x);
    e.conversion = MidpointOver(s, scan, ConversionWindow);
    if (x <= L - BaseWindow) e.base = MidpointOver(s, scan, BaseWindow);
    // Span A starts one bar older than the base line: its oldest entry
    // averages the conversion line with the base line's 0.0.
    if (x <= L - (BaseWindow - 1)) e.spanA = (e.base + e.conversion) * 0.5;
    if (x <= L - SpanBWindow) e.spanB = MidpointOver(s, scan, SpanBWindow);
    return e;
}

double ComputeIchimokuLine(const EngineState& s, int32_t kind, int32_t index)
{
    const int32_t L = UsableLastBarIndex(s);
    if (L < IchimokuMinLastBarIndex) return 0.0;
    // The leading spans of index x are the entries computed 32 bars older,
    // and the lagging line at x is the close 32 bars newer. Both offsets are
    // applied only once the index is known to be in range, so neither wraps.
    const bool spanInRange = index >= -IchimokuShift && index <= L - 1 - IchimokuShift;
    switch (kind) {
    case ConversionLine:
        return ComputeIchimokuEntries(s, index).conversion;
    case BaseLine:
        return ComputeIchimokuEntries(s, index).base;
    case LeadingSpanA:
        return spanInRange ? ComputeIchimokuEntries(s, index + IchimokuShift).spanA : 0.0;
    case LeadingSpanB:
        return spanInRange ? ComputeIchimokuEntries(s, index + IchimokuShift).spanB : 0.0;
    case LaggingLine:
        // The close of bar L is not used: the line ends at L + 31.
        return index >= IchimokuShift && index <= L - 1 + IchimokuShift ? s.closeSeries[index - IchimokuShift] : 0.0;
    default:
        return 0.0;
    }
}

}  // namespace torvik
