#pragma once
// The report period's rules: for Today, This Week, This Month and This Year
// the period ends now and starts a number of whole days earlier, keeping the
// time of day; a custom period keeps its own dates.
#include "service/report_period.h"

// now is the current local date-time as an OLE date. Types 0-3: start and
// end rewritten and marked valid; any other type: nothing changes. A now
// that cannot be split into calendar fields changes nothing either.
void RecomputePeriod(ReportPeriod& period, double now);

// The period of a first start: end = now, start one day earlier, This Year.
ReportPeriod InitialPeriod(double now);
