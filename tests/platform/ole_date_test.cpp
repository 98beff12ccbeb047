#include "platform/ole_date.h"

#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <memory>

namespace {

std::time_t Utc(int y, int mo, int d, int h, int mi, int s) {
    std::tm t = test_util::Tm(y, mo, d, h, mi, s);
    return timegm(&t);
}

TEST(OleDate, RefusesWhatIsNoDate) {
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), -657435.0, 2958466.0, 1e300, -1e300}) {
        EXPECT_EQ(OleDateToFields(bad), std::nullopt) << bad;
        EXPECT_EQ(FormatOleDate(bad), std::nullopt) << bad;
        EXPECT_EQ(OleDateToTime(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(OleDateFromFields(2023, 2, 29), std::nullopt);
    EXPECT_EQ(OleDateFromFields(99, 12, 31), std::nullopt);
    EXPECT_EQ(OleDateFromFields(10000, 1, 1), std::nullopt);
    EXPECT_EQ(OleDateFromFields(2000, 1, 1, 24, 0, 0), std::nullopt);
}

TEST(OleDate, CalendarFieldsAndText) {
    struct Case {
        double date;
        int y, mo, d, h, mi, s, dayOfWeek, dayOfYear;
    } cases[] = {
        {0.0, 1899, 12, 30, 0, 0, 0, 7, 364},
        {-1.25, 1899, 12, 29, 6, 0, 0, 6, 363},  // the fraction counts forward from the day
        {-0.5, 1899, 12, 30, 12, 0, 0, 7, 364},
        {2.75, 1900, 1, 1, 18, 0, 0, 2, 1},
        {36526.5, 2000, 1, 1, 12, 0, 0, 7, 1},
        {45351.0, 2024, 2, 29, 0, 0, 0, 5, 60},
        {45657.0, 2024, 12, 31, 0, 0, 0, 3, 366},
        {45000.999999999, 2023, 3, 16, 0, 0, 0, 5, 75},  // rounds up into the next day
        {-657434.0, 100, 1, 1, 0, 0, 0, 6, 1},
        {2958465.5, 9999, 12, 31, 12, 0, 0, 6, 365},
    };
    for (const Case& c : cases) {
        std::optional<DateFields> f = OleDateToFields(c.date);
        ASSERT_TRUE(f) << c.date;
        EXPECT_EQ(
            (std::vector<int>{f->year, f->month, f->day, f->hour, f->minute, f->second, f->dayOfWeek, f->dayOfYear}),
            (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.dayOfWeek, c.dayOfYear}))
            << c.date;
        if (c.date != -0.5 && c.date != 45000.999999999) {  // those two have another canonical form
            EXPECT_EQ(OleDateFromFields(c.y, c.mo, c.d, c.h, c.mi, c.s), c.date);
        }
    }
    // As text, in the locale's date and time.
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(FormatOleDate(36526.5), "Sat Jan  1 12:00:00 2000");
    EXPECT_EQ(FormatOleDate(-1.25), "Fri Dec 29 06:00:00 1899");
}

TEST(OleDate, InBerlinDaylightSavingRoundTripsAndSubSecondsKeepTheirDay) {
    const std::shared_ptr<void> retzset(nullptr, [](void*) { tzset(); });  // after the zone is restored
    const test_util::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    // 31 March 2024: at 02:00 CET the clocks went to 03:00 CEST.
    EXPECT_EQ(OleDateToTime(*OleDateFromFields(2024, 3, 31, 1, 59, 59)), Utc(2024, 3, 31, 0, 59, 59));
    EXPECT_EQ(OleDateToTime(*OleDateFromFields(2024, 3, 31, 3, 0, 0)), Utc(2024, 3, 31, 1, 0, 0));
    EXPECT_EQ(*OleDateToTime(*OleDateFromFields(2024, 3, 31, 12, 0, 0)) -
                  *OleDateToTime(*OleDateFromFields(2024, 3, 30, 12, 0, 0)),
              23 * 3600);
    for (std::time_t t = Utc(2024, 3, 30, 20, 0, 0); t < Utc(2024, 3, 31, 23, 0, 0); t += 900) {
        std::optional<double> date = OleDateFromTime(t);
        ASSERT_TRUE(date);
        EXPECT_EQ(OleDateToTime(*date), t);
    }
    // 27 October 2024: 02:00-03:00 happens twice; both map to one local time, which maps back to one of them.
    const std::optional<double> summer = OleDateFromTime(Utc(2024, 10, 27, 0, 30, 0));
    EXPECT_EQ(summer, OleDateFromFields(2024, 10, 27, 2, 30, 0));
    EXPECT_EQ(summer, OleDateFromTime(Utc(2024, 10, 27, 1, 30, 0)));
    std::time_t back = *OleDateToTime(*summer);
    EXPECT_TRUE(back == Utc(2024, 10, 27, 0, 30, 0) || back == Utc(2024, 10, 27, 1, 30, 0));
    EXPECT_EQ(OleDateToFields(*OleDateFromTime(Utc(2024, 7, 1, 10, 0, 0)))->hour, 12);
    // Saturday 30 March 2024 23:59:59.6 CET, the night before the clocks go forward.
    const std::optional<double> date = OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), 600000000);
    ASSERT_TRUE(date);
    EXPECT_NEAR(*date - *OleDateFromFields(2024, 3, 30, 23, 59, 59), 0.6 / 86400, 1e-9);
    EXPECT_EQ(OleDateDayFields(*date)->day, 30);
    EXPECT_FALSE(OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), 1000000000));
    EXPECT_FALSE(OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), -1));
}

TEST(OleDate, DayFieldsNeverRoundIntoTheNextDay) {
    // Saturday 30 December 1899 23:59:59.6 and Friday 29 December 1899 (negative, still counting forward).
    const double lastTenths = (86399.6) / 86400;
    EXPECT_EQ(OleDateToFields(lastTenths)->day, 31);  // rounding, as before
    const auto day = OleDateDayFields(lastTenths);
    ASSERT_TRUE(day);
    EXPECT_EQ(day->day, 30);
    EXPECT_EQ(day->dayOfWeek, 7);
    EXPECT_EQ(day->hour + day->minute + day->second, 0);
    EXPECT_EQ(OleDateDayFields(-1 - lastTenths)->day, 29);
    const auto down = OleDateToFields(lastTenths, SecondRounding::Down);
    EXPECT_EQ(down->day, 30);
    EXPECT_EQ(down->second, 59);
    // Whole seconds stay themselves despite the fraction's binary error.
    for (int second = 0; second < 86400; second += 7)
        EXPECT_EQ(OleDateToFields(45000 + second / 86400.0, SecondRounding::Down)->second, second % 60) << second;
    EXPECT_FALSE(OleDateDayFields(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(OleDateDayFields(1e300));
}

}  // namespace
