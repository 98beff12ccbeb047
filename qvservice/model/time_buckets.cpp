#include "qvservice/model/time_buckets.h"

#include "records/timestamp.h"

namespace qv::server {

namespace {

// Months since January 1970 of a UTC moment.
std::int64_t MonthOf(std::int64_t ms) {
    const CivilDate date = CivilFromDays(FloorDiv(ms, kMsPerDay));
    return (date.year - 1970) * 12 + date.month - 1;
}

// The first bucket that starts at or after a moment.
std::int64_t FirstBucketFrom(const BucketLevel& level, std::int64_t ms) {
    const std::int64_t bucket = BucketOf(level, ms);
    return BucketStartMs(level, bucket) == ms ? bucket : bucket + 1;
}

// Whole buckets of this level in the middle, the rest of each side to the
// finer levels, and what no bucket covers to the raw records.
void Plan(MsRange piece, std::size_t level, bool windows, PeriodPlan& plan) {
    if (piece.from >= piece.to) return;
    if (level == kBucketLevelCount) {
        plan.raw.push_back(piece);
        return;
    }
    if (windows && !kBucketLevels[level].windows) {
        Plan(piece, level + 1, windows, plan);
        return;
    }
    const BucketLevel& here = kBucketLevels[level];
    const std::int64_t first = FirstBucketFrom(here, piece.from);
    const std::int64_t last = BucketOf(here, piece.to);
    if (first >= last) {
        Plan(piece, level + 1, windows, plan);
        return;
    }
    plan.buckets[level].push_back({first, last});
    Plan({piece.from, BucketStartMs(here, first)}, level + 1, windows, plan);
    Plan({BucketStartMs(here, last), piece.to}, level + 1, windows, plan);
}

}  // namespace

std::int64_t BucketOf(const BucketLevel& level, std::int64_t ms) {
    return level.ms ? FloorDiv(ms, level.ms) : FloorDiv(MonthOf(ms), level.months);
}

std::int64_t BucketStartMs(const BucketLevel& level, std::int64_t bucket) {
    if (level.ms) return bucket * level.ms;
    const std::int64_t month = bucket * level.months;
    const std::int64_t years = FloorDiv(month, 12);
    return DaysFromCivil(1970 + years, static_cast<unsigned>(month - years * 12 + 1), 1) * kMsPerDay;
}

const BucketLevel& LargestLevel(bool windows) {
    return *std::find_if(kBucketLevels.begin(), kBucketLevels.end(),
                         [&](const BucketLevel& level) { return level.windows || !windows; });
}

PeriodPlan PlanPeriod(MsRange period, bool windows, std::int64_t latestEndMs) {
    const bool upToNow = latestEndMs <= period.to;
    if (upToNow) {
        const BucketLevel& largest = kBucketLevels.front();
        period.to = BucketStartMs(largest, FirstBucketFrom(largest, period.to));
    }
    PeriodPlan plan;
    Plan(period, 0, windows, plan);
    if (upToNow) {
        // Buckets from the latest end on hold nothing: a source fewer each.
        for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
            const std::int64_t end = FirstBucketFrom(kBucketLevels[level], latestEndMs);
            for (BucketRange& range : plan.buckets[level]) range.last = std::min(range.last, end);
            std::erase_if(plan.buckets[level], [](const BucketRange& range) { return range.first >= range.last; });
        }
        std::erase_if(plan.raw, [&](const MsRange& piece) { return piece.from >= latestEndMs; });
    }
    return plan;
}

}  // namespace qv::server
