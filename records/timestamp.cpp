#include "records/timestamp.h"

#include <algorithm>
#include <ctime>

namespace qv {

namespace {

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(std::int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
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

CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;  // March is 0
    const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {era * 400 + yearOfEra + (month <= 2 ? 1 : 0), month, dayOfYear - (153 * shifted + 2) / 5 + 1};
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

}  // namespace qv
