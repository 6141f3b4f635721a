// The costs of trading besides the spread: the slippage of market fills
// (fixed, or drawn from a seeded generator of its own so that a run is the
// same on every machine), the commission per lot, and the swap charged at
// the daily rollover.
#pragma once

#include <cstdint>

#include "tester/data/instruments.h"

namespace torvik::tester {

// SplitMix64: a small generator whose sequence depends on the seed alone.
class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t Next();

private:
    uint64_t state_;
};

// Points of slippage for each fill that takes it: min when min equals max,
// else a whole number from min to max, each equally likely (up to 2^-32).
class Slippage {
public:
    Slippage(int32_t minPoints, int32_t maxPoints, uint64_t seed)
        : min_(minPoints), max_(maxPoints), random_(seed)
    {
    }
    int32_t Draw();
    bool None() const { return min_ == 0 && max_ == 0; }

private:
    int32_t min_;
    int32_t max_;
    SplitMix64 random_;
};

// The commission of a position of `lots`, charged in full when it opens:
// the rate per lot once (round turn) or twice (per side), in cents.
double CommissionFor(double lots, double perLot, CommissionPer per);

// The daily rollover at hour `hour` of server time. Each calendar day has
// one, at that hour; it ends the trading day whose last second comes before
// it (at hour 0 the day before, at hour 22 the same day). That day's weekday
// sets the nights charged: Monday to Friday one, the triple day three,
// Saturday and Sunday none.
// The first rollover after afterMs.
int64_t NextRolloverMs(int64_t afterMs, int32_t hour);
int32_t NightsAt(int64_t rolloverMs, int32_t tripleDay);
// The weekday of a time (0 Sunday ... 6 Saturday).
int32_t WeekdayOf(int64_t timeMs);

inline constexpr int64_t DayMs = 86400000;
inline constexpr int64_t HourMs = 3600000;

}  // namespace torvik::tester
