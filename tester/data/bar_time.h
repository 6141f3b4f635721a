// Bar times: seconds since 1970.01.01 00:00 of the broker's server clock,
// as the 32-bit time of a bar record. No time zone is applied anywhere.
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
// "YYYY.MM.DD"
std::string FormatBarDate(uint32_t time);
// A duration as "3d 04:00" (days, hours and minutes).
std::string FormatDuration(uint64_t seconds);
// The usual name of a bar period (M1 ... MN1), else its length in seconds.
std::string TimeframeName(uint32_t seconds);

}  // namespace torvik::tester
