#include "qvservice/model/ole_time.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace qv::server {

namespace {

// The OLE Automation range: 1 January 100 to 31 December 9999.
constexpr double kMinOleDate = -657434.0;
constexpr double kMaxOleDate = 2958466.0;
constexpr std::int64_t kOleEpochDays = -25569;  // 1899-12-30 relative to 1970-01-01

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Howard Hinnant's algorithms for the proleptic Gregorian calendar.
Civil CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Local calendar fields to UTC seconds; the C library settles daylight
// saving (a time inside a spring-forward gap moves past it).
std::optional<std::int64_t> LocalToEpochSeconds(std::int64_t year, unsigned month, unsigned day, int hour, int minute,
                                                int second) {
    std::tm fields{};
    fields.tm_year = static_cast<int>(year - 1900);
    fields.tm_mon = static_cast<int>(month) - 1;
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    errno = 0;
    const std::time_t seconds = std::mktime(&fields);
    if (seconds == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

constexpr std::int64_t kSecondsPerDay = 86400;

long UtcOffsetAt(std::int64_t utcSeconds) {
    const auto seconds = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local.tm_gmtoff;
}

// The instants whose local time reads wallSeconds (the local fields counted
// as if they were UTC). UTC offsets stay well within a day, so the offsets in
// force a day either side are all the candidates.
Timestamp LocalWallTime(std::int64_t wallSeconds) {
    std::int64_t found[3] = {};
    int count = 0;
    for (const std::int64_t probe : {wallSeconds - kSecondsPerDay, wallSeconds, wallSeconds + kSecondsPerDay}) {
        const std::int64_t instant = wallSeconds - UtcOffsetAt(probe);
        if (UtcOffsetAt(instant) == wallSeconds - instant &&
            std::find(found, found + count, instant) == found + count) {
            found[count++] = instant;
        }
    }
    if (count == 0) return {TimestampFault::SkippedLocalTime};
    if (count > 1) return {TimestampFault::RepeatedLocalTime};
    return {TimestampFault::None, found[0] * kMsPerSecond};
}

bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

std::optional<std::int64_t> LocalOleDateToEpochMs(double oleDate) {
    if (!std::isfinite(oleDate) || oleDate < kMinOleDate || oleDate >= kMaxOleDate) return std::nullopt;
    // The integer part is the day and the fraction the time of day, also below
    // zero: -1.25 is 29 December 1899, 06:00.
    const double dayPart = std::trunc(oleDate);
    auto day = static_cast<std::int64_t>(dayPart);
    auto msOfDay = static_cast<std::int64_t>(std::llround(std::fabs(oleDate - dayPart) * kMsPerDay));
    if (msOfDay >= kMsPerDay) {
        msOfDay -= kMsPerDay;
        ++day;
    }
    const Civil date = CivilFromDays(day + kOleEpochDays);
    const std::int64_t secondOfDay = msOfDay / kMsPerSecond;
    const auto seconds =
        LocalToEpochSeconds(date.year, date.month, date.day, static_cast<int>(secondOfDay / 3600),
                            static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    if (!seconds) return std::nullopt;
    return *seconds * kMsPerSecond + msOfDay % kMsPerSecond;
}

double EpochMsToLocalOleDate(std::int64_t epochMs) {
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(epochMs, kMsPerSecond));
    std::tm local{};
    localtime_r(&seconds, &local);
    const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                            static_cast<unsigned>(local.tm_mday)) -
                              kOleEpochDays;
    const std::int64_t msOfDay = (local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec) * kMsPerSecond +
                                 (epochMs - FloorDiv(epochMs, kMsPerSecond) * kMsPerSecond);
    const double fraction = static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

std::int64_t LocalDayNumber(std::int64_t epochMs) {
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(epochMs, kMsPerSecond));
    std::tm local{};
    localtime_r(&seconds, &local);
    return DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                         static_cast<unsigned>(local.tm_mday));
}

std::int64_t LocalDayStartMs(std::int64_t dayNumber) {
    const Civil date = CivilFromDays(dayNumber);
    return LocalToEpochSeconds(date.year, date.month, date.day, 0, 0, 0).value_or(dayNumber * 86400) * kMsPerSecond;
}

Timestamp ParseTimestamp(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 19 || !ReadDigits(text, 0, 4, year) || text[4] != '-' || !ReadDigits(text, 5, 2, month) ||
        text[7] != '-' || !ReadDigits(text, 8, 2, day) || text[10] != 'T' || !ReadDigits(text, 11, 2, hour) ||
        text[13] != ':' || !ReadDigits(text, 14, 2, minute) || text[16] != ':' || !ReadDigits(text, 17, 2, second)) {
        return {};
    }
    if (month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month)) || hour > 23 || minute > 59 ||
        second > 59) {
        return {};
    }
    const std::string_view zone = text.substr(19);
    const std::int64_t wallSeconds =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kSecondsPerDay + hour * 3600LL +
        minute * 60LL + second;
    if (zone.empty()) return LocalWallTime(wallSeconds);
    std::int64_t offsetSeconds = 0;
    if (zone != "Z") {
        int offsetHours = 0, offsetMinutes = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !ReadDigits(zone, 1, 2, offsetHours) ||
            zone[3] != ':' || !ReadDigits(zone, 4, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59) {
            return {};
        }
        offsetSeconds = (offsetHours * 3600LL + offsetMinutes * 60LL) * (zone[0] == '-' ? -1 : 1);
    }
    return {TimestampFault::None, (wallSeconds - offsetSeconds) * kMsPerSecond};
}

}  // namespace qv::server
