// Bar and tick times: seconds (bars) or milliseconds (ticks) since
// 1970.01.01 00:00 of the broker's server clock. No time zone is applied
// anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torvik::tester {

struct CivilTime {
    int32_t year = 1970;
    int32_t month = 1;
    int32_t day = 1;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
};

// Seconds of a calendar time; nothing when a field is out of range or the
// time does not fit a bar record (years 1970 to 2105).
std::optional<uint32_t> ToBarTime(const CivilTime& t);
CivilTime FromBarTime(uint32_t time);

// "YYYY.MM.DD HH:MM", with ":SS" only when the seconds are not zero.
std::string FormatBarTime(uint32_t time);
// "YYYY.MM.DD HH:MM:SS", and ".mmm" when withMilliseconds.
std::string FormatTickTime(int64_t milliseconds, bool withMilliseconds);
// "YYYY.MM.DD"
std::string FormatBarDate(uint32_t time);
// A duration as "3d 04:00" (days, hours and minutes).
std::string FormatDuration(uint64_t seconds);

// Chart timeframes in seconds; a month counts as MonthSeconds, aligned to
// the first of the month.
inline constexpr uint32_t MinuteSeconds = 60;
inline constexpr uint32_t DaySeconds = 86400;
inline constexpr uint32_t WeekSeconds = 7 * DaySeconds;
inline constexpr uint32_t MonthSeconds = 30 * DaySeconds;

// The usual name of a bar period (M1 ... MN1), else its length in seconds.
std::string TimeframeName(uint32_t seconds);
// M1 M5 M15 M30 H1 H4 D1 W1 MN1 (any case); nothing for another text.
std::optional<uint32_t> ParseTimeframe(const std::string& name);
// The open time of the chart bar that holds `time`, aligned as the terminal
// aligns it: M1 to H4 to a multiple of the period, D1 to midnight, W1 to the
// Sunday that starts the week, MN1 to the first of the month.
uint32_t AlignToTimeframe(uint32_t time, uint32_t timeframe);

}  // namespace torvik::tester
