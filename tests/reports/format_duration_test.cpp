#include "reports/format_duration.h"

#include <gtest/gtest.h>

#include <limits>

TEST(FormatDuration, DayEdgesAndTotalsPastTwoToThe31Seconds) {
    const std::pair<double, const char*> table[] = {
        {0, "00 minutes"},
        {59'999, "00 minutes"},
        {3'599'000, "59 minutes"},
        {3'600'000, "01:00 hours"},
        {86'399'999, "23:59 hours"},
        {86'400'000, "1 day 00 minutes"},
        {90'061'000, "1 day 01:01 hours"},
        {172'799'999, "1 day 23:59 hours"},
        {172'800'000, "2 days 00 minutes"},
        {-90'000, "-1 minutes"},
        {2'147'483'648'000.0, "24855 days 03:14 hours"},  // an organisation's total over a year
        {std::numeric_limits<double>::quiet_NaN(), "00 minutes"},
    };
    for (const auto& [milliseconds, text] : table)
        EXPECT_EQ(FormatDuration(milliseconds).toStdString(), text) << milliseconds;
}
