// Splitting time into buckets of UTC time: all of time, blocks of 16 days,
// days and hours. Records are split when they are stored, periods when they are asked
// for: a period is summed from whole blocks, whole days and hours at its
// edges, and raw records only for the partial hours at its very ends.
#pragma once

#include "qvservice/model/ole_time.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
};

inline constexpr std::size_t kBucketLevelCount = 4;
inline constexpr std::array<BucketLevel, kBucketLevelCount> kBucketLevels{{
    // All of time in two buckets, before 1970 and after (each about 46,000
    // years): an answer without a period reads each combination's total
    // once instead of once a block.
    {"all", 16 * kMsPerDay*(std::int64_t{1} << 20)},
    {"block", 16 * kMsPerDay},
    {"day", kMsPerDay},
    {"hour", kMsPerHour},
}};

struct PeriodPlan {
    std::array<std::vector<BucketRange>, kBucketLevelCount> buckets;  // by level
    std::vector<MsRange> raw;
};

// The plan of a non-empty period; its pieces do not overlap and cover it.
PeriodPlan PlanPeriod(MsRange period);

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
