// The modelled price path of a chart: rows of a file in, ticks out, with
// the chart bars they build. The models:
//  - open: one tick at the chart bar's open (the rest of the bar is the
//    broker's RestOfBar against the bar's range);
//  - ohlc: four generated ticks, open, the nearer extreme (the low on a
//    tie), the farther extreme, close;
//  - lower: the same four ticks from every lower-timeframe bar of the chart bar;
//  - ticks: every real tick with its own bid and ask.
// The move into the first tick of a bar (the chart bar for open and ohlc,
// the lower bar for lower) and between real ticks is a gap; between the
// generated ticks of one bar the price moves continuously.
#pragma once

#include <array>
#include <cstdint>

#include "tester/data/source.h"
#include "tester/market/account.h"
#include "tester/market/settings.h"

namespace torvik::tester {

// A chart bar as built from its rows.
struct ChartBar {
    uint32_t time = 0;
    double open = 0.0;
    double high = 0.0;
    double low = 0.0;
    double close = 0.0;
    double volume = 0.0;
    int32_t spread = -1;  // the smallest spread of its rows in points; -1 when the data has none
    uint32_t parts = 0;   // rows (lower bars or ticks) it was built from
    int32_t chart = 0;    // the chart of the run it belongs to
};

struct PathTick {
    int64_t timeMs = 0;
    Quote quote{0.0, 0.0};
    bool gap = true;          // the move into this tick is a gap
    bool newChartBar = false; // the first tick of a chart bar
};

struct PathSettings {
    Model model = Model::Open;
    uint32_t timeframeSeconds = 0;  // of the chart
    bool buildBars = false;         // chart bars are built from rows of a lower timeframe (or ticks)
    int32_t spreadPoints = 12;      // fixed, or where the data has none
    bool spreadFixed = false;
    int32_t digits = 5;
    double point = 0.00001;
    // The data has more decimals than the digits: every price is rounded to
    // the digits as it is read, as a terminal's prices always are.
    bool roundPrices = false;
};

class PricePath {
public:
    PricePath(RowSource& source, const PathSettings& settings);

    // The next modelled tick; false at the end of the data.
    bool Next(PathTick& tick);
    // The chart bar of the last tick: complete in the open and ohlc models,
    // built as far as the rows read so far in the others.
    const ChartBar& Bar() const { return bar_; }
    // After a tick with newChartBar: the chart bar before it, complete.
    const ChartBar& Previous() const { return previous_; }
    // The open model: the quotes at the chart bar's low and high.
    Quote LowQuote() const { return QuoteOf(bar_.low, BarSpread(bar_.spread)); }
    Quote HighQuote() const { return QuoteOf(bar_.high, BarSpread(bar_.spread)); }
    // The quote at a chart bar's close, at the bar's spread.
    Quote CloseQuote(const ChartBar& bar) const { return QuoteOf(bar.close, BarSpread(bar.spread)); }
    // Whole points from one price up to another.
    int64_t PointsBetween(double lower, double upper) const;
    // The quote of a bid at a spread in points.
    Quote QuoteOf(double bid, int32_t spreadPoints) const;

private:
    bool ReadRow(Row& row);
    // The source's next row, its prices on the grid of the digits.
    bool NextRow(Row& row);
    uint32_t ChartTime(const Row& row) const;
    int32_t BarSpread(int32_t dataSpread) const;
    int32_t RowSpread(const Row& row) const;
    void StartBar(const Row& row);
    void AddToBar(const Row& row);
    void QueueFourTicks(int64_t timeMs, double open, double high, double low, double close, int32_t spread,
                        bool newChartBar);
    bool FillQueue();

    RowSource& source_;
    PathSettings s_;
    double scale_;
    Row pending_;
    bool havePending_ = false;
    bool started_ = false;
    ChartBar bar_;
    ChartBar previous_;
    std::array<PathTick, 4> queue_{};
    size_t queued_ = 0;
    size_t taken_ = 0;
};

}  // namespace torvik::tester
