#include "qvservice/model/time_buckets.h"

namespace qv::server {

namespace {

// Months since January 1970 of a UTC moment (the inverse of DaysFromCivil,
// for any year).
std::int64_t MonthOf(std::int64_t ms) {
    const std::int64_t days = FloorDiv(ms, kMsPerDay) + 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;  // March is 0
    const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = era * 400 + yearOfEra + (month <= 2 ? 1 : 0);
    return (year - 1970) * 12 + month - 1;
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
