#include "app/period_rules.h"

#include "platform/ole_date.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <ctime>
#include <memory>

namespace {

double At(int year, int month, int day, int hour = 14, int minute = 30, int second = 15) {
    return *OleDateFromFields(year, month, day, hour, minute, second);
}

ReportPeriod Recomputed(std::int32_t type, double now) {
    ReportPeriod period;  // invalid dates: the rule must mark them valid
    period.type = type;
    RecomputePeriod(period, now);
    return period;
}

void ExpectPeriod(const ReportPeriod& period, double start, double end) {
    EXPECT_DOUBLE_EQ(period.start, start);
    EXPECT_DOUBLE_EQ(period.end, end);
    EXPECT_EQ(period.startStatus, kDateValid);
    EXPECT_EQ(period.endStatus, kDateValid);
}

// 23:59:59.6 local time of the day, as the system clock gives it.
double LastTenthsOf(int year, int month, int day) {
    std::tm t = test_util::Tm(year, month, day, 23, 59, 59);
    return *OleDateFromTime(std::mktime(&t), 600'000'000);
}

void ExpectStartDay(std::int32_t type, double now, int year, int month, int day) {
    const ReportPeriod period = Recomputed(type, now);
    EXPECT_DOUBLE_EQ(period.end, now);
    EXPECT_NEAR(period.start - std::trunc(period.start), now - std::trunc(now), 1e-9) << "time of day kept";
    const auto start = OleDateDayFields(period.start);
    ASSERT_TRUE(start);
    EXPECT_EQ((std::array{start->year, start->month, start->day}), (std::array{year, month, day})) << type;
}

}  // namespace

TEST(PeriodRules, EachRuleEndsNowAndStartsOnItsDayAtTheSameTime) {
    const struct {
        std::int32_t type;
        double now, start;
    } cases[] = {
        {kPeriodToday, At(2024, 5, 15), At(2024, 5, 14)},
        // 19 May 2024 is a Sunday: nothing is subtracted; Wednesday 1 January 2025 goes into the previous year.
        {kPeriodThisWeek, At(2024, 5, 19), At(2024, 5, 19)},
        {kPeriodThisWeek, At(2025, 1, 1), At(2024, 12, 29)},
        // The previous month's last day, leap or not.
        {kPeriodThisMonth, At(2023, 3, 1), At(2023, 2, 28)},
        {kPeriodThisMonth, At(2024, 5, 31, 0, 0, 1), At(2024, 4, 30, 0, 0, 1)},
        {kPeriodThisYear, At(2024, 1, 1, 0, 0, 0), At(2023, 12, 31, 0, 0, 0)},
        {kPeriodThisYear, At(2024, 12, 31, 23, 59, 59), At(2023, 12, 31, 23, 59, 59)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ExpectPeriod(Recomputed(c.type, c.now), c.start, c.now);
    }
}

TEST(PeriodRules, CustomAndUnknownTypesKeepTheirDates) {
    for (std::int32_t type : {std::int32_t{kPeriodCustom}, 5, 1000, -1}) {
        ReportPeriod period{At(2020, 2, 2), kDateInvalid, At(2020, 3, 3), kDateValid, type};
        RecomputePeriod(period, At(2024, 5, 15));
        EXPECT_DOUBLE_EQ(period.start, At(2020, 2, 2)) << type;
        EXPECT_DOUBLE_EQ(period.end, At(2020, 3, 3)) << type;
        EXPECT_TRUE(period.startStatus == kDateInvalid && period.endStatus == kDateValid && period.type == type);
    }
}

// In a European zone with both clock changes.
TEST(PeriodRules, LastHalfSecondOfADayStaysInThatDayAcrossTheClockChanges) {
    const std::shared_ptr<void> retzset(nullptr, [](void*) { tzset(); });  // after the zone is restored
    const test_util::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    // Friday 31 May 2024, the last day of a month.
    const double monthEnd = LastTenthsOf(2024, 5, 31);
    ExpectStartDay(kPeriodThisMonth, monthEnd, 2024, 4, 30);
    ExpectStartDay(kPeriodThisWeek, monthEnd, 2024, 5, 26);
    ExpectStartDay(kPeriodToday, monthEnd, 2024, 5, 30);
    // Tuesday 31 December 2024, the last day of a (leap) year.
    const double yearEnd = LastTenthsOf(2024, 12, 31);
    ExpectStartDay(kPeriodThisYear, yearEnd, 2023, 12, 31);
    ExpectStartDay(kPeriodThisMonth, yearEnd, 2024, 11, 30);
    // Saturday 25 May 2024: the week began on Sunday the 19th.
    ExpectStartDay(kPeriodThisWeek, LastTenthsOf(2024, 5, 25), 2024, 5, 19);
    // 31 March 2024 (a Sunday) lost an hour; the Saturday before ends a week that the change does not split.
    ExpectStartDay(kPeriodThisWeek, LastTenthsOf(2024, 3, 30), 2024, 3, 24);
    ExpectStartDay(kPeriodThisWeek, LastTenthsOf(2024, 3, 31), 2024, 3, 31);
    ExpectStartDay(kPeriodThisMonth, LastTenthsOf(2024, 3, 31), 2024, 2, 29);
    ExpectStartDay(kPeriodToday, LastTenthsOf(2024, 3, 31), 2024, 3, 30);
    // 27 October 2024 (a Sunday) repeated an hour; 31 October ends the month.
    ExpectStartDay(kPeriodThisWeek, LastTenthsOf(2024, 10, 26), 2024, 10, 20);
    ExpectStartDay(kPeriodThisWeek, LastTenthsOf(2024, 10, 27), 2024, 10, 27);
    ExpectStartDay(kPeriodThisMonth, LastTenthsOf(2024, 10, 31), 2024, 9, 30);
    ExpectStartDay(kPeriodThisYear, LastTenthsOf(2024, 10, 27), 2023, 12, 31);
}
