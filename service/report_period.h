#pragma once
// The report period: start and end as OLE Automation dates, each with a
// validity status, and the period type. The application owns the current
// one; every report reads it before it queries.
#include <cstdint>

enum PeriodType : std::int32_t {
    kPeriodToday = 0,
    kPeriodThisWeek = 1,
    kPeriodThisMonth = 2,
    kPeriodThisYear = 3,
    kPeriodCustom = 4,  // and every value above
};

enum DateStatus : std::int32_t { kDateValid = 0, kDateInvalid = 1 };

struct ReportPeriod {
    double start = 0.0;
    DateStatus startStatus = kDateInvalid;
    double end = 0.0;
    DateStatus endStatus = kDateInvalid;
    std::int32_t type = kPeriodThisYear;
};
