// Instants as the import format writes them, and the calendar arithmetic
// behind them. Times are UTC milliseconds since 1970.
#pragma once

#include <cstdint>
#include <string_view>

namespace qv {

inline constexpr std::int64_t kMsPerSecond = 1000;
inline constexpr std::int64_t kMsPerHour = 3'600'000;
inline constexpr std::int64_t kMsPerDay = 86'400'000;

// Rounds toward minus infinity, unlike '/', so buckets before 1970 work too.
constexpr std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1 to 12
    unsigned day;
};
// The date of a day since 1970-01-01: the inverse of DaysFromCivil.
CivilDate CivilFromDays(std::int64_t days);

enum class TimestampFault { None, Malformed, SkippedLocalTime, RepeatedLocalTime };

struct Timestamp {
    TimestampFault fault = TimestampFault::Malformed;
    std::int64_t ms = 0;  // UTC, when there is no fault
};

// "YYYY-MM-DDTHH:MM:SS" in local time, or followed by "Z" or "+HH:MM"/"-HH:MM".
// A local time that the clocks skip or pass twice names no single instant.
Timestamp ParseTimestamp(std::string_view text);

}  // namespace qv
