#include "app/period_rules.h"

#include "platform/ole_date.h"

void RecomputePeriod(ReportPeriod& period, double now) {
    if (period.type < kPeriodToday || period.type > kPeriodThisYear) return;
    // The day of now itself: rounding to the second would take the next
    // day's fields in the last half second of a day.
    const auto fields = OleDateDayFields(now);
    if (!fields) return;
    int days = 0;
    switch (period.type) {
        case kPeriodToday:
            days = 1;  // the last 24 hours, not since midnight
            break;
        case kPeriodThisWeek:
            days = fields->dayOfWeek - 1;  // back to Sunday
            break;
        case kPeriodThisMonth:
            days = fields->day;  // the whole day of month: the previous month's last day
            break;
        default:
            days = fields->dayOfYear;  // likewise: 31 December of the previous year
            break;
    }
    period.start = now - days;
    period.startStatus = kDateValid;
    period.end = now;
    period.endStatus = kDateValid;
}

ReportPeriod InitialPeriod(double now) {
    ReportPeriod period;
    period.end = now;
    period.endStatus = kDateValid;
    period.start = now - 1;
    period.startStatus = kDateValid;
    period.type = kPeriodThisYear;
    return period;
}
