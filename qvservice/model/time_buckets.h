// Splitting time into buckets of UTC time: all of time, 128 days, blocks of
// 16 days, 4 days, days and hours. Records are split when they are stored,
// periods when they are asked for: a period is summed from the largest
// buckets that fit in it, smaller ones toward its edges, and raw records only
// for the partial hours at its very ends.
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
    std::int64_t ms;   // each level's size is a whole multiple of the next one's
    // Whether it keeps window-title totals beside the program ones: each
    // such level costs every record's write a row, the largest part of it.
    bool windows;
};

inline constexpr std::size_t kBucketLevelCount = 6;
inline constexpr std::array<BucketLevel, kBucketLevelCount> kBucketLevels{{
    // All of time in two buckets, before 1970 and after (each about 46,000
    // years): an answer without a period reads each combination's total
    // once instead of once a block.
    {"all", 16 * kMsPerDay*(std::int64_t{1} << 20), false},
    // A year of a thousand people: each bucket holds every user's every
    // program (some 14,000 rows), so a year is read as two or three of these
    // and a few blocks rather than twenty blocks, and its edges as a few
    // 4-day buckets rather than up to thirty days. The busiest program's
    // titles likewise (some 15,000 rows a block); an answer of titles
    // without a period reads all of these buckets, since every record writes
    // one title row a level and this level serves the years.
    {"days128", 128 * kMsPerDay, true},
    {"block", 16 * kMsPerDay, true},
    {"days4", 4 * kMsPerDay, false},
    {"day", kMsPerDay, true},
    {"hour", kMsPerHour, true},
}};

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

// Calls visit(bucket, timeMs, share) for each bucket of bucketMs that the
// record [start, start + duration) overlaps; share is the part of the
// record's events that falls there. A record without duration lies wholly in
// the bucket of its start.
template <typename Visit>
void ForEachBucket(std::int64_t startMs, std::int64_t durationMs, std::int64_t bucketMs, Visit visit) {
    if (durationMs == 0) {
        visit(FloorDiv(startMs, bucketMs), std::int64_t{0}, 1.0);
        return;
    }
    const std::int64_t endMs = startMs + durationMs;
    for (std::int64_t bucket = FloorDiv(startMs, bucketMs); bucket * bucketMs < endMs; ++bucket) {
        const std::int64_t part = std::min(endMs, (bucket + 1) * bucketMs) - std::max(startMs, bucket * bucketMs);
        visit(bucket, part, static_cast<double>(part) / static_cast<double>(durationMs));
    }
}

}  // namespace qv::server
