#pragma once
// OLE Automation dates: a double counting days since midnight of 30 December
// 1899 in local wall-clock time, the fraction being the time of day. For
// negative values the fraction still counts forward from the day: -1.25 is
// 29 December 1899 06:00. Valid from 1 January 100 to 31 December 9999;
// NaN, infinities and values outside that range are refused.
#include <ctime>
#include <optional>
#include <string>

struct DateFields {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int dayOfWeek = 0;  // 1 = Sunday .. 7 = Saturday (output only)
    int dayOfYear = 0;  // 1 = 1 January (output only)
};

inline constexpr int kOleDateMinYear = 100;
inline constexpr int kOleDateMaxYear = 9999;

// How the fraction of a second is dropped: Nearest may reach the next day
// in a day's last half second; Down keeps the date's own second (a
// millisecond's tolerance absorbs the binary fraction's error).
enum class SecondRounding { Nearest, Down };

// Splits a date into calendar fields.
std::optional<DateFields> OleDateToFields(double date, SecondRounding rounding = SecondRounding::Nearest);
// The calendar day the date lies in, time fields 0. Unlike OleDateToFields it
// never rounds a day's last half second into the next day.
std::optional<DateFields> OleDateDayFields(double date);
// Fields must lie in their ranges (no normalising of 31 February).
std::optional<double> OleDateFromFields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Between points in time and local calendar time, daylight saving included.
// A local time that falls in the hour skipped when the clocks go forward is
// taken as the standard time the C library chooses (mktime).
std::optional<double> OleDateFromTime(std::time_t time);
// The same with the fraction of the second, 0 <= nanoseconds < 10^9.
std::optional<double> OleDateFromTime(std::time_t time, long nanoseconds);
std::optional<std::time_t> OleDateToTime(double date);
// The current local date and time, milliseconds included.
double OleDateNow();

// The fields as the C library's broken-down time (year - 1900, month - 1,
// day of week and year filled in, daylight saving flag and zone where known).
std::optional<std::tm> OleDateToTm(double date);
// The date formatted with the C library's "%c" (the locale's date and time)
// into a buffer of 64 characters; empty when it does not fit, nullopt when
// the date cannot be split into calendar fields.
std::optional<std::string> FormatOleDate(double date);
