#include "tester/market/path.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "tester/data/bar_time.h"
#include "tester/data/error.h"

namespace torvik::tester {

namespace {

constexpr int64_t MillisecondsPerSecond = 1000;

}  // namespace

PricePath::PricePath(RowSource& source, const PathSettings& settings)
    : source_(source), s_(settings), scale_(std::pow(10.0, settings.digits))
{
}

Quote PricePath::QuoteOf(double bid, int32_t spreadPoints) const
{
    const double spread = static_cast<double>(spreadPoints) * s_.point;
    return Quote{bid, std::round((bid + spread) * scale_) / scale_};
}

int32_t PricePath::BarSpread(int32_t dataSpread) const
{
    return s_.spreadFixed || dataSpread < 0 ? s_.spreadPoints : dataSpread;
}

int32_t PricePath::RowSpread(const Row& row) const
{
    if (row.spread >= 0) return row.spread;
    if (row.ask > 0.0) return static_cast<int32_t>(std::llround((row.ask - row.close) * scale_));
    return -1;
}

bool PricePath::ReadRow(Row& row)
{
    if (havePending_) {
        row = pending_;
        havePending_ = false;
        return true;
    }
    return NextRow(row);
}

bool PricePath::NextRow(Row& row)
{
    if (!source_.Next(row)) return false;
    if (s_.roundPrices) {
        const double scale = std::pow(10.0, s_.digits);
        const auto round = [scale](double price) { return std::round(price * scale) / scale; };
        row.open = round(row.open);
        row.high = round(row.high);
        row.low = round(row.low);
        row.close = round(row.close);
        row.ask = round(row.ask);
        if (!(row.low > 0.0)) {
            throw TesterError(fmt::format("prices round to 0 at {} digits: give more --digits", s_.digits));
        }
    }
    return true;
}

uint32_t PricePath::ChartTime(const Row& row) const
{
    const auto seconds = static_cast<uint32_t>(row.timeMs / MillisecondsPerSecond);
    return s_.buildBars ? AlignToTimeframe(seconds, s_.timeframeSeconds) : seconds;
}

void PricePath::StartBar(const Row& row)
{
    previous_ = bar_;
    bar_ = ChartBar{ChartTime(row), row.open, row.high, row.low, row.close, row.volume, RowSpread(row), 1, 0};
}

void PricePath::AddToBar(const Row& row)
{
    bar_.high = std::max(bar_.high, row.high);
    bar_.low = std::min(bar_.low, row.low);
    bar_.close = row.close;
    bar_.volume += row.volume;
    const int32_t spread = RowSpread(row);
    if (spread >= 0 && (bar_.spread < 0 || spread < bar_.spread)) bar_.spread = spread;
    ++bar_.parts;
}

int64_t PricePath::PointsBetween(double lower, double upper) const { return std::llround((upper - lower) / s_.point); }

void PricePath::QueueFourTicks(int64_t timeMs, double open, double high, double low, double close, int32_t spread,
                               bool newChartBar)
{
    // Distances in whole points: the difference of two prices carries
    // rounding noise that would decide a tie at random.
    const bool highFirst = PointsBetween(open, high) < PointsBetween(low, open);
    const double prices[4] = {open, highFirst ? high : low, highFirst ? low : high, close};
    for (size_t k = 0; k < 4; ++k) {
        queue_[k] = PathTick{timeMs, QuoteOf(prices[k], spread), k == 0, newChartBar && k == 0};
    }
    queued_ = 4;
}

bool PricePath::FillQueue()
{
    queued_ = 0;
    taken_ = 0;
    Row row;
    if (!ReadRow(row)) return false;
    const bool newBar = !started_ || ChartTime(row) != bar_.time;
    started_ = true;

    if (s_.model == Model::Open || s_.model == Model::Ohlc) {
        // The whole chart bar first; the row after it waits for the next one.
        StartBar(row);
        Row next;
        while (NextRow(next)) {
            if (ChartTime(next) != bar_.time) {
                pending_ = next;
                havePending_ = true;
                break;
            }
            AddToBar(next);
        }
        const int64_t timeMs = static_cast<int64_t>(bar_.time) * MillisecondsPerSecond;
        const int32_t spread = BarSpread(bar_.spread);
        if (s_.model == Model::Open) {
            queue_[0] = PathTick{timeMs, QuoteOf(bar_.open, spread), true, true};
            queued_ = 1;
        } else {
            QueueFourTicks(timeMs, bar_.open, bar_.high, bar_.low, bar_.close, spread, true);
        }
        return true;
    }

    if (newBar) {
        StartBar(row);
    } else {
        AddToBar(row);
    }
    if (s_.model == Model::Ticks) {
        const Quote q = s_.spreadFixed || row.ask <= 0.0 ? QuoteOf(row.close, s_.spreadPoints)
                                                         : Quote{row.close, row.ask};
        queue_[0] = PathTick{row.timeMs, q, true, newBar};
        queued_ = 1;
    } else {
        QueueFourTicks(row.timeMs, row.open, row.high, row.low, row.close, BarSpread(row.spread), newBar);
    }
    return true;
}

bool PricePath::Next(PathTick& tick)
{
    if (taken_ >= queued_ && !FillQueue()) return false;
    tick = queue_[taken_++];
    return true;
}

}  // namespace torvik::tester
