#include "tester/data/bar_time.h"

#include <algorithm>

#include <fmt/format.h>

namespace torvik::tester {

namespace {

constexpr int64_t SecondsPerDay = 86400;

bool IsLeap(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t DaysInMonth(int32_t y, int32_t m)
{
    constexpr int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 1970.01.01 of a proleptic Gregorian date (years from 1 on).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

std::optional<uint32_t> ToBarTime(const CivilTime& t)
{
    if (t.year < 1970 || t.year > 2105) return std::nullopt;
    if (t.month < 1 || t.month > 12) return std::nullopt;
    if (t.day < 1 || t.day > DaysInMonth(t.year, t.month)) return std::nullopt;
    if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59) {
        return std::nullopt;
    }
    const int64_t s = DaysFromCivil(t.year, t.month, t.day) * SecondsPerDay + int64_t{t.hour} * 3600 +
                      int64_t{t.minute} * 60 + t.second;
    if (s < 0 || s > int64_t{UINT32_MAX}) return std::nullopt;
    return static_cast<uint32_t>(s);
}

CivilTime FromBarTime(uint32_t time)
{
    const int64_t days = time / SecondsPerDay;
    const int64_t rest = time % SecondsPerDay;
    // Inverse of DaysFromCivil for days from 0 on.
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return CivilTime{static_cast<int32_t>(y),           static_cast<int32_t>(m),
                     static_cast<int32_t>(d),           static_cast<int32_t>(rest / 3600),
                     static_cast<int32_t>(rest / 60 % 60), static_cast<int32_t>(rest % 60)};
}

std::string FormatBarTime(uint32_t time)
{
    const CivilTime c = FromBarTime(time);
    if (c.second != 0) {
        return fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}", c.year, c.month, c.day, c.hour, c.minute, c.second);
    }
    return fmt::format("{:04}.{:02}.{:02} {:02}:{:02}", c.year, c.month, c.day, c.hour, c.minute);
}

std::string FormatTickTime(int64_t milliseconds, bool withMilliseconds)
{
    const int64_t clamped = milliseconds < 0 ? 0 : milliseconds;
    const CivilTime c = FromBarTime(static_cast<uint32_t>(std::min<int64_t>(clamped / 1000, UINT32_MAX)));
    if (withMilliseconds) {
        return fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}.{:03}", c.year, c.month, c.day, c.hour, c.minute,
                           c.second, clamped % 1000);
    }
    return fmt::format("{:04}.{:02}.{:02} {:02}:{:02}:{:02}", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

std::string FormatBarDate(uint32_t time)
{
    const CivilTime c = FromBarTime(time);
    return fmt::format("{:04}.{:02}.{:02}", c.year, c.month, c.day);
}

std::string FormatDuration(uint64_t seconds)
{
    const uint64_t days = seconds / 86400;
    const uint64_t hours = seconds % 86400 / 3600;
    const uint64_t minutes = seconds % 3600 / 60;
    return fmt::format("{}d {:02}:{:02}", days, hours, minutes);
}

std::string TimeframeName(uint32_t seconds)
{
    switch (seconds) {
    case 60: return "M1";
    case 300: return "M5";
    case 900: return "M15";
    case 1800: return "M30";
    case 3600: return "H1";
    case 14400: return "H4";
    case 86400: return "D1";
    case WeekSeconds: return "W1";
    case MonthSeconds: return "MN1";
    default: return fmt::format("{}s", seconds);
    }
}

std::optional<uint32_t> ParseTimeframe(const std::string& name)
{
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    for (const uint32_t tf : {60u, 300u, 900u, 1800u, 3600u, 14400u, DaySeconds, WeekSeconds, MonthSeconds}) {
        if (TimeframeName(tf) == upper) return tf;
    }
    return std::nullopt;
}

uint32_t AlignToTimeframe(uint32_t time, uint32_t timeframe)
{
    if (timeframe == MonthSeconds) {
        const CivilTime c = FromBarTime(time);
        return ToBarTime(CivilTime{c.year, c.month, 1, 0, 0, 0}).value_or(0);
    }
    if (timeframe == WeekSeconds) {
        // 1970.01.01 was a Thursday: day d is (d + 4) % 7 days after a Sunday.
        const int64_t day = time / DaySeconds;
        const int64_t sunday = day - (day + 4) % 7;
        return sunday < 0 ? 0 : static_cast<uint32_t>(sunday * DaySeconds);
    }
    if (timeframe == 0) return time;
    return time - time % timeframe;
}

}  // namespace torvik::tester
