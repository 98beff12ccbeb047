#include "reports/format_duration.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;

// Truncated toward zero; a total across an organisation passes 2^31 seconds,
// so the count is 64-bit. NaN reads as 0, beyond the range as its end.
std::int64_t WholeSeconds(double milliseconds) {
    const double seconds = std::trunc(milliseconds / 1000.0);
    if (std::isnan(seconds)) return 0;
    constexpr double kLimit = 9.0e18;
    if (seconds >= kLimit) return static_cast<std::int64_t>(kLimit);
    if (seconds <= -kLimit) return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(seconds);
}

QString TwoDigits(std::int64_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

}  // namespace

QString FormatDuration(double milliseconds) {
    std::int64_t seconds = WholeSeconds(milliseconds);
    QString text;
    if (seconds >= kSecondsPerDay) {
        const std::int64_t days = seconds / kSecondsPerDay;
        text =
            QString::number(days) + (seconds < 2 * kSecondsPerDay ? QStringLiteral(" day ") : QStringLiteral(" days "));
        seconds -= days * kSecondsPerDay;
    }
    if (seconds < kSecondsPerHour) return text + TwoDigits(seconds / 60) + QStringLiteral(" minutes");
    const std::int64_t hours = seconds / kSecondsPerHour;
    const std::int64_t minutes = (seconds - hours * kSecondsPerHour) / 60;
    return text + TwoDigits(hours) + QLatin1Char(':') + TwoDigits(minutes) + QStringLiteral(" hours");
}
