#include "tester/market/costs.h"

#include <cmath>

namespace torvik::tester {

namespace {

// 1970.01.01 was a Thursday.
constexpr int32_t EpochWeekday = 4;
constexpr int32_t TripleNights = 3;

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

uint64_t SplitMix64::Next()
{
    state_ += 0x9e3779b97f4a7c15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

int32_t Slippage::Draw()
{
    if (min_ >= max_) return min_;
    // The top 32 bits scaled to the span: no division, no bias worth a word.
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(max_) - min_ + 1);
    const uint64_t top = random_.Next() >> 32;
    return min_ + static_cast<int32_t>((top * span) >> 32);
}

double CommissionFor(double lots, double perLot, CommissionPer per)
{
    const double sides = per == CommissionPer::Side ? 2.0 : 1.0;
    return std::round(lots * perLot * sides * 100.0) / 100.0;
}

int64_t NextRolloverMs(int64_t afterMs, int32_t hour)
{
    const int64_t offset = int64_t{hour} * HourMs;
    const int64_t day = FloorDiv(afterMs - offset, DayMs);
    int64_t at = day * DayMs + offset;
    if (at <= afterMs) at += DayMs;
    return at;
}

int32_t WeekdayOf(int64_t timeMs)
{
    const int64_t days = FloorDiv(timeMs, DayMs);
    return static_cast<int32_t>(((days + EpochWeekday) % 7 + 7) % 7);
}

int32_t NightsAt(int64_t rolloverMs, int32_t tripleDay)
{
    const int32_t endedDay = WeekdayOf(rolloverMs - 1);
    if (endedDay == 0 || endedDay == 6) return 0;
    return endedDay == tripleDay ? TripleNights : 1;
}

}  // namespace torvik::tester
