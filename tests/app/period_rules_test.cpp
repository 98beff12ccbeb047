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

// 23:59:59.6 local time of the day, as the system clock gives it.
double LastTenthsOf(int year, int month, int day) {
    std::tm t = test_util::Tm(year, month, day, 23, 59, 59);
    return *OleDateFromTime(std::mktime(&t), 600'000'000);
}

}  // namespace

// In a European zone with both clock changes.
TEST(PeriodRules, EachRuleEndsNowAndStartsOnItsDayAtTheSameTimeAndOthersKeepTheirDates) {
    const std::shared_ptr<void> retzset(nullptr, [](void*) { tzset(); });  // after the zone is restored
    const test_util::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    const struct {
        std::int32_t type;
        double now;
        int year, month, day;
    } cases[] = {
        {kPeriodToday, At(2024, 5, 15), 2024, 5, 14},
        // Wednesday 1 January 2025 goes into the previous year.
        {kPeriodThisWeek, At(2025, 1, 1), 2024, 12, 29},
        // The previous month's last day, leap or not.
        {kPeriodThisMonth, At(2023, 3, 1), 2023, 2, 28},
        {kPeriodThisMonth, At(2024, 5, 31, 0, 0, 1), 2024, 4, 30},
        {kPeriodThisYear, At(2024, 1, 1, 0, 0, 0), 2023, 12, 31},
        // The last half second stays in its day: 31 May 2024 ends a month, 31 December a leap year, 25 May a week.
        {kPeriodThisMonth, LastTenthsOf(2024, 5, 31), 2024, 4, 30},
        {kPeriodThisWeek, LastTenthsOf(2024, 5, 31), 2024, 5, 26},
        {kPeriodThisYear, LastTenthsOf(2024, 12, 31), 2023, 12, 31},
        {kPeriodThisWeek, LastTenthsOf(2024, 5, 25), 2024, 5, 19},
        // Sunday 31 March 2024 lost an hour (a Sunday starts a week); the week ending the day before is not split.
        {kPeriodThisWeek, LastTenthsOf(2024, 3, 30), 2024, 3, 24},
        {kPeriodThisWeek, LastTenthsOf(2024, 3, 31), 2024, 3, 31},
        {kPeriodThisMonth, LastTenthsOf(2024, 3, 31), 2024, 2, 29},
        {kPeriodToday, LastTenthsOf(2024, 3, 31), 2024, 3, 30},
        // 27 October 2024 (a Sunday) repeated an hour; 31 October ends the month.
        {kPeriodThisWeek, LastTenthsOf(2024, 10, 26), 2024, 10, 20},
        {kPeriodThisWeek, LastTenthsOf(2024, 10, 27), 2024, 10, 27},
        {kPeriodThisMonth, LastTenthsOf(2024, 10, 31), 2024, 9, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ReportPeriod period{.type = c.type};  // invalid dates: the rule must mark them valid
        RecomputePeriod(period, c.now);
        EXPECT_TRUE(period.end == c.now && period.startStatus == kDateValid && period.endStatus == kDateValid);
        EXPECT_NEAR(period.start - std::trunc(period.start), c.now - std::trunc(c.now), 1e-9) << "time of day kept";
        const auto start = OleDateDayFields(period.start);
        ASSERT_TRUE(start);
        EXPECT_EQ((std::array{start->year, start->month, start->day}), (std::array{c.year, c.month, c.day}));
    }
    // Custom and unknown types keep their dates.
    for (std::int32_t type : {std::int32_t{kPeriodCustom}, 5, 1000, -1}) {
        ReportPeriod period{At(2020, 2, 2), kDateInvalid, At(2020, 3, 3), kDateValid, type};
        RecomputePeriod(period, At(2024, 5, 15));
        EXPECT_TRUE(period.start == At(2020, 2, 2) && period.end == At(2020, 3, 3) && period.type == type) << type;
        EXPECT_TRUE(period.startStatus == kDateInvalid && period.endStatus == kDateValid);
    }
}
