#include "market/bar_ingestion.h"

#include "engine/rounding.h"

namespace torvik {

namespace {

constexpr int32_t PositionTypeBuy = 0;
constexpr int32_t PositionTypeSell = 1;
constexpr int32_t PipModeTenPoints = 5;  // pipMode at or above: a pip is ten points

// The record at position i of a host array given oldest first.
void StoreBar(EngineState& s, int32_t i, const BarRecord& bar)
{
    const double low = bar.low;
    const double high = bar.high;
    const double close = bar.close;
    s.typicalSeries[i] = ((low + high) + close) / s.threeConstant;
    s.openSeries[i] = bar.open;
    s.medianSeries[i] = (low + high) * 0.5;
    s.closeSeries[i] = close;
    s.weightedSeries[i] = (((low + high) + close) + close) * 0.25;
    s.lowSeries[i] = low;
    s.volumeSeries[i] = bar.volume;
    s.highSeries[i] = high;
}

bool ArraysAcceptable(const EngineState& s, const BarIngestion& in)
{
    if (in.refBars == nullptr || in.seriesBars == nullptr || in.extraBars == nullptr) return false;
    if (in.refBarsTotal < 0 || in.seriesBarsTotal < 0 || in.extraBarsTotal < 0) return false;
    const int32_t last = s.lastBarIndex;
    if (last >= in.refBarsTotal || last >= in.seriesBarsTotal || last >= in.extraBarsTotal) return false;
    // The series have no room beyond their capacity, and the reference bar
    // read below is the second-newest one.
    if (last >= SeriesCapacity) return false;
    if (in.refBarsTotal < 2) return false;
    return true;
}

}  // namespace

int32_t Rft(EngineState& s, const BarIngestion& in)
{
    s.positionSide = 0;
    if (in.positionOpenPrice > 0.0) {
        if (in.positionType == PositionTypeBuy) s.positionSide = 1;
        else if (in.positionType == PositionTypeSell) s.positionSide = 2;
    }

    s.hostPoint = in.point;
    s.askPrice = in.ask;
    s.bidPrice = in.bid;
    s.hostDigits = in.digits;
    s.lastBarIndex = WrapSub(in.barCount, 1);
    s.pipFactor = in.pipMode < PipModeTenPoints ? 1 : 10;
    s.positionOpenPrice = in.positionOpenPrice;
    s.spreadPoints = TruncateToInt32((in.ask - in.bid) / in.point);
    s.hasPosition = in.positionOpenPrice > 0.0 ? 1 : 0;

    if (!ArraysAcceptable(s, in)) return 0;

    const BarRecord& refPrev = in.refBars[in.refBarsTotal - 2];
    s.refPrevClose = refPrev.close;
    s.refPrevOpen = refPrev.open;

    if (s.lastBarIndex < 0) return 0;

    // Newest record first: series index i is i bars older than the last record.
    for (int32_t i = 0; i <= s.lastBarIndex; ++i) {
        StoreBar(s, i, in.seriesBars[in.seriesBarsTotal - 1 - i]);
    }
    return 0;
}

}  // namespace torvik
