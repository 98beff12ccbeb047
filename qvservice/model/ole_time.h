// Time on the wire and in the store. The viewer speaks OLE Automation dates
// in the service's local time; the store keeps UTC milliseconds since 1970.
#pragma once

#include "records/timestamp.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace qv::server {

// An OLE date in local time (days since 1899-12-30, the fraction the time of
// day, also for negative dates) as UTC milliseconds; nothing for a value that
// is not a date between the years 100 and 9999.
std::optional<std::int64_t> LocalOleDateToEpochMs(double oleDate);
double EpochMsToLocalOleDate(std::int64_t epochMs);

// Local calendar days, numbered as DaysFromCivil numbers them.
std::int64_t LocalDayNumber(std::int64_t epochMs);
std::int64_t LocalDayStartMs(std::int64_t dayNumber);

}  // namespace qv::server
