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

}  // namespace

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

}  // namespace qv::server
