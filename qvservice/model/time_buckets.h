// Splitting time into buckets of UTC time: all of time, calendar years and
// months, blocks of 16 days, 4 days, days and hours. Records are split when
// they are stored, periods when they are asked for: a period is summed from
// the largest buckets that fit in it, smaller ones toward its edges, and raw
// records only for the partial hours at its very ends.
#pragma once

#include "qvservice/model/ole_time.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace qv::server {

// [from, to) in UTC milliseconds.
struct MsRange {
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// [first, last) bucket numbers.
struct BucketRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

struct BucketLevel {
    const char* name;  // names the level's rollup tables
    std::int64_t ms;   // a bucket's size, each a whole day or hour; 0 for calendar months
    int months;        // calendar months a bucket, when ms is 0
    // Whether it keeps window-title totals beside the program ones: each
    // such level costs every record's write a row, the largest part of it.
    bool windows;
};

inline constexpr std::size_t kBucketLevelCount = 7;
inline constexpr std::array<BucketLevel, kBucketLevelCount> kBucketLevels{{
    // All of time in two buckets, before 1970 and after (each about 46,000
    // years): an answer without a period reads each combination's total
    // once instead of once a block.
    {"all", 16 * kMsPerDay*(std::int64_t{1} << 20), 0, false},
    // The viewer's years and months: at a thousand people each bucket holds
    // every user's every program (some 14,000 rows) and the busiest
    // program's every title (some 50,000), so This Year and This Month are
    // a bucket each, and longer periods a few. Titles without a period read
    // every year.
    {"year", 0, 12, true},
    {"month", 0, 1, true},
    {"block", 16 * kMsPerDay, 0, true},
    {"days4", 4 * kMsPerDay, 0, false},
    {"day", kMsPerDay, 0, true},
    {"hour", kMsPerHour, 0, true},
}};

// The bucket of a level that holds a moment, and a bucket's first moment.
std::int64_t BucketOf(const BucketLevel& level, std::int64_t ms);
std::int64_t BucketStartMs(const BucketLevel& level, std::int64_t bucket);

// The largest level: of those with window-title totals, for windows.
const BucketLevel& LargestLevel(bool windows);

struct PeriodPlan {
    std::array<std::vector<BucketRange>, kBucketLevelCount> buckets;  // by level
    std::vector<MsRange> raw;
};

// The plan of a non-empty period; its pieces do not overlap and cover it.
// windows: of the levels that keep window-title totals only. When nothing
// lies at or after latestEndMs and the period reaches it (a period up to
// now), the pieces may reach past the period's end: a year up to now is then
// read as a few of the largest buckets rather than ever smaller ones toward
// today. They cover the period up to latestEndMs at least; a period that
// starts at or after it has an empty plan.
PeriodPlan PlanPeriod(MsRange period, bool windows,
                      std::int64_t latestEndMs = std::numeric_limits<std::int64_t>::max());

// Calls visit(bucket, timeMs, share) for each bucket of the level that the
// record [start, start + duration) overlaps; share is the part of the
// record's events that falls there. A record without duration lies wholly in
// the bucket of its start.
template <typename Visit>
void ForEachBucket(std::int64_t startMs, std::int64_t durationMs, const BucketLevel& level, Visit visit) {
    std::int64_t bucket = BucketOf(level, startMs);
    if (durationMs == 0) {
        visit(bucket, std::int64_t{0}, 1.0);
        return;
    }
    const std::int64_t endMs = startMs + durationMs;
    for (std::int64_t from = BucketStartMs(level, bucket); from < endMs; ++bucket) {
        const std::int64_t to = BucketStartMs(level, bucket + 1);
        const std::int64_t part = std::min(endMs, to) - std::max(startMs, from);
        visit(bucket, part, static_cast<double>(part) / static_cast<double>(durationMs));
        from = to;
    }
}

}  // namespace qv::server
