#include "qvservice/model/time_buckets.h"

namespace qv::server {

namespace {

std::int64_t CeilDiv(std::int64_t value, std::int64_t divisor) { return -FloorDiv(-value, divisor); }

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
    const std::int64_t size = kBucketLevels[level].ms;
    const std::int64_t first = CeilDiv(piece.from, size);
    const std::int64_t last = FloorDiv(piece.to, size);
    if (first >= last) {
        Plan(piece, level + 1, windows, plan);
        return;
    }
    plan.buckets[level].push_back({first, last});
    Plan({piece.from, first * size}, level + 1, windows, plan);
    Plan({last * size, piece.to}, level + 1, windows, plan);
}

}  // namespace

const BucketLevel& LargestLevel(bool windows) {
    return *std::find_if(kBucketLevels.begin(), kBucketLevels.end(),
                         [&](const BucketLevel& level) { return level.windows || !windows; });
}

PeriodPlan PlanPeriod(MsRange period, bool windows, std::int64_t latestEndMs) {
    const bool upToNow = latestEndMs <= period.to;
    if (upToNow) {
        const std::int64_t largest = kBucketLevels.front().ms;
        period.to = CeilDiv(period.to, largest) * largest;
    }
    PeriodPlan plan;
    Plan(period, 0, windows, plan);
    if (upToNow) {
        // Buckets from the latest end on hold nothing: a source fewer each.
        for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
            const std::int64_t end = CeilDiv(latestEndMs, kBucketLevels[level].ms);
            for (BucketRange& range : plan.buckets[level]) range.last = std::min(range.last, end);
            std::erase_if(plan.buckets[level], [](const BucketRange& range) { return range.first >= range.last; });
        }
        std::erase_if(plan.raw, [&](const MsRange& piece) { return piece.from >= latestEndMs; });
    }
    return plan;
}

}  // namespace qv::server
