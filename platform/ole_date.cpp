#include "platform/ole_date.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kSecondsPerDay = 86400;
constexpr int kFormatBuffer = 64;
constexpr long kNanosecondsPerSecond = 1000000000;
constexpr double kSecondTolerance = 0.001;
// Outside these the calendar check below refuses the date anyway; they keep
// the arithmetic in range for huge values.
constexpr double kArithmeticMin = -700000.0;
constexpr double kArithmeticMax = 3000000.0;

// Days since 1 January 1970 of a proleptic Gregorian date.
constexpr std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr std::int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);  // a Saturday

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

DateFields FieldsOfTm(const std::tm& t) {
    DateFields f;
    f.year = t.tm_year + 1900;
    f.month = t.tm_mon + 1;
    f.day = t.tm_mday;
    f.hour = t.tm_hour;
    f.minute = t.tm_min;
    f.second = t.tm_sec == 60 ? 59 : t.tm_sec;  // a leap second has no OLE form
    return f;
}

std::tm TmOfFields(const DateFields& f) {
    std::tm t{};
    t.tm_year = f.year - 1900;
    t.tm_mon = f.month - 1;
    t.tm_mday = f.day;
    t.tm_hour = f.hour;
    t.tm_min = f.minute;
    t.tm_sec = f.second;
    t.tm_wday = f.dayOfWeek - 1;
    t.tm_yday = f.dayOfYear - 1;
    t.tm_isdst = -1;
    t.tm_zone = "";
    return t;
}

bool SameFields(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

}  // namespace

std::optional<DateFields> OleDateToFields(double date, SecondRounding rounding) {
    if (!std::isfinite(date) || date < kArithmeticMin || date > kArithmeticMax) return std::nullopt;
    double whole = std::trunc(date);
    auto day = static_cast<std::int64_t>(whole);
    const double exact = std::fabs(date - whole) * kSecondsPerDay;
    auto seconds = rounding == SecondRounding::Nearest
                       ? static_cast<int>(std::llround(exact))
                       : std::min(static_cast<int>(std::floor(exact + kSecondTolerance)), kSecondsPerDay - 1);
    if (seconds >= kSecondsPerDay) {  // rounded up to midnight of the next day
        seconds -= kSecondsPerDay;
        ++day;
    }
    DateFields f;
    CivilFromDays(kOleEpoch + day, f.year, f.month, f.day);
    if (f.year < kOleDateMinYear || f.year > kOleDateMaxYear) return std::nullopt;
    f.hour = seconds / 3600;
    f.minute = seconds / 60 % 60;
    f.second = seconds % 60;
    f.dayOfWeek = static_cast<int>(((day % 7 + 7) % 7 + 6) % 7) + 1;
    f.dayOfYear = static_cast<int>(DaysFromCivil(f.year, f.month, f.day) - DaysFromCivil(f.year, 1, 1)) + 1;
    return f;
}

std::optional<DateFields> OleDateDayFields(double date) {
    // The day part alone: whole values convert exactly, and the fraction of a
    // negative date counts forward from the same day, so trunc keeps the day.
    if (!std::isfinite(date)) return std::nullopt;
    return OleDateToFields(std::trunc(date));
}

std::optional<double> OleDateFromFields(int year, int month, int day, int hour, int minute, int second) {
    if (year < kOleDateMinYear || year > kOleDateMaxYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59)
        return std::nullopt;
    auto days = static_cast<double>(DaysFromCivil(year, month, day) - kOleEpoch);
    double time = (hour * 3600 + minute * 60 + second) / static_cast<double>(kSecondsPerDay);
    return days >= 0 ? days + time : days - time;
}

std::optional<double> OleDateFromTime(std::time_t time) {
    std::tm local{};
    if (!localtime_r(&time, &local)) return std::nullopt;
    DateFields f = FieldsOfTm(local);
    return OleDateFromFields(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

std::optional<std::time_t> OleDateToTime(double date) {
    std::optional<DateFields> f = OleDateToFields(date);
    if (!f) return std::nullopt;
    std::tm t = TmOfFields(*f);
    errno = 0;
    std::time_t result = std::mktime(&t);
    if (result == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
    return result;
}

std::optional<double> OleDateFromTime(std::time_t time, long nanoseconds) {
    std::optional<double> date = OleDateFromTime(time);
    if (!date || nanoseconds < 0 || nanoseconds >= kNanosecondsPerSecond) return std::nullopt;
    // Dates before 1899 count their time backwards; the clock never gives one.
    const double fraction = static_cast<double>(nanoseconds) / kNanosecondsPerSecond / kSecondsPerDay;
    return *date >= 0 ? *date + fraction : *date - fraction;
}

double OleDateNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The clock lies within the OLE range for the next 8000 years.
    return OleDateFromTime(now.tv_sec, now.tv_nsec).value_or(0.0);
}

std::optional<std::tm> OleDateToTm(double date) {
    std::optional<DateFields> f = OleDateToFields(date);
    if (!f) return std::nullopt;
    std::tm t = TmOfFields(*f);
    // mktime tells the daylight saving flag and zone of that local time;
    // they are taken only when it did not have to move the time.
    std::tm probe = t;
    errno = 0;
    if ((std::mktime(&probe) != static_cast<std::time_t>(-1) || errno == 0) && SameFields(probe, t)) {
        t.tm_isdst = probe.tm_isdst;
        t.tm_gmtoff = probe.tm_gmtoff;
        t.tm_zone = probe.tm_zone;
    }
    return t;
}

std::optional<std::string> FormatOleDate(double date) {
    std::optional<std::tm> t = OleDateToTm(date);
    if (!t) return std::nullopt;
    char buf[kFormatBuffer];
    std::size_t n = std::strftime(buf, sizeof buf, "%c", &*t);
    return std::string(buf, n);
}
