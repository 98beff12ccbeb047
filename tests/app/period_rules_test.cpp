#include "period_rules.h"

#include "ole_date.h"

#include <gtest/gtest.h>

namespace {

double At(int year, int month, int day, int hour = 14, int minute = 30, int second = 15)
{
    return *OleDateFromFields(year, month, day, hour, minute, second);
}

ReportPeriod Recomputed(std::int32_t type, double now)
{
    ReportPeriod period;  // invalid dates: the rule must mark them valid
    period.type = type;
    RecomputePeriod(period, now);
    return period;
}

void ExpectPeriod(const ReportPeriod& period, double start, double end)
{
    EXPECT_DOUBLE_EQ(period.start, start);
    EXPECT_DOUBLE_EQ(period.end, end);
    EXPECT_EQ(period.startStatus, kDateValid);
    EXPECT_EQ(period.endStatus, kDateValid);
}

}  // namespace

TEST(PeriodRules, TodayIsTheLastTwentyFourHours)
{
    const double now = At(2024, 5, 15);
    ExpectPeriod(Recomputed(kPeriodToday, now), At(2024, 5, 14), now);
}

TEST(PeriodRules, ThisWeekStartsOnSundayAtTheSameTime)
{
    // 19 May 2024 is a Sunday: nothing is subtracted.
    const double sunday = At(2024, 5, 19);
    ExpectPeriod(Recomputed(kPeriodThisWeek, sunday), sunday, sunday);
    // Saturday 25 May goes back six days; Wednesday 1 January 2025 goes back
    // into the previous year.
    ExpectPeriod(Recomputed(kPeriodThisWeek, At(2024, 5, 25)), sunday, At(2024, 5, 25));
    ExpectPeriod(Recomputed(kPeriodThisWeek, At(2025, 1, 1)), At(2024, 12, 29), At(2025, 1, 1));
}

TEST(PeriodRules, ThisMonthStartsOnThePreviousMonthsLastDay)
{
    ExpectPeriod(Recomputed(kPeriodThisMonth, At(2024, 3, 1)), At(2024, 2, 29), At(2024, 3, 1));
    ExpectPeriod(Recomputed(kPeriodThisMonth, At(2023, 3, 1)), At(2023, 2, 28), At(2023, 3, 1));
    ExpectPeriod(Recomputed(kPeriodThisMonth, At(2024, 5, 31, 0, 0, 1)), At(2024, 4, 30, 0, 0, 1),
                 At(2024, 5, 31, 0, 0, 1));
}

TEST(PeriodRules, ThisYearStartsOnTheThirtyFirstOfDecember)
{
    ExpectPeriod(Recomputed(kPeriodThisYear, At(2024, 1, 1, 0, 0, 0)), At(2023, 12, 31, 0, 0, 0),
                 At(2024, 1, 1, 0, 0, 0));
    ExpectPeriod(Recomputed(kPeriodThisYear, At(2024, 12, 31, 23, 59, 59)), At(2023, 12, 31, 23, 59, 59),
                 At(2024, 12, 31, 23, 59, 59));
}

TEST(PeriodRules, CustomAndUnknownTypesKeepTheirDates)
{
    for (std::int32_t type : {std::int32_t{kPeriodCustom}, 5, 1000, -1}) {
        ReportPeriod period;
        period.type = type;
        period.start = At(2020, 2, 2);
        period.end = At(2020, 3, 3);
        period.endStatus = kDateValid;
        RecomputePeriod(period, At(2024, 5, 15));
        EXPECT_DOUBLE_EQ(period.start, At(2020, 2, 2)) << type;
        EXPECT_DOUBLE_EQ(period.end, At(2020, 3, 3)) << type;
        EXPECT_EQ(period.startStatus, kDateInvalid) << type;
        EXPECT_EQ(period.endStatus, kDateValid) << type;
        EXPECT_EQ(period.type, type);
    }
}

TEST(PeriodRules, FirstStartIsThisYearEndingNow)
{
    const double now = At(2024, 7, 4);
    const ReportPeriod period = InitialPeriod(now);
    EXPECT_EQ(period.type, kPeriodThisYear);
    ExpectPeriod(period, now - 1, now);
    // The first report then starts on 31 December at the same time of day.
    ReportPeriod first = period;
    RecomputePeriod(first, now);
    ExpectPeriod(first, At(2023, 12, 31), now);
}
