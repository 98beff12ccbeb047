// Periods split into buckets and raw pieces that cover them exactly, and
// records split into buckets that hold them whole.
#include "qvservice/model/time_buckets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <random>

namespace qv::server {
namespace {

TEST(ServiceTimeBuckets, PlansCoverThePeriodExactlyAndRecordsSplitWhole) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 5000; ++i) {
        const std::int64_t from = static_cast<std::int64_t>(random() % (400 * kMsPerDay)) - 200 * kMsPerDay;
        const std::int64_t days = i % 3 == 0 ? 2 : i % 3 == 1 ? 90 : 700;
        const std::int64_t span = 1 + static_cast<std::int64_t>(random() % (days * kMsPerDay));
        const bool windows = i % 2 == 0;
        // Up to now: nothing lies at or after the period's end, so the plan may reach past it, by its start side only.
        const bool toNow = i % 5 < 2;
        const std::int64_t latestEnd =
            toNow ? from + span - static_cast<std::int64_t>(random() % span) : std::numeric_limits<std::int64_t>::max();
        const PeriodPlan plan = PlanPeriod({from, from + span}, windows, latestEnd);
        std::vector<std::pair<std::int64_t, std::int64_t>> pieces;
        for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
            EXPECT_LE(plan.buckets[level].size(), level == 0 || toNow ? 1u : 2u);
            if (windows && !kBucketLevels[level].windows) {
                EXPECT_TRUE(plan.buckets[level].empty());
            }
            const std::int64_t size = kBucketLevels[level].ms;
            for (const auto& range : plan.buckets[level]) pieces.emplace_back(range.first * size, range.last * size);
        }
        for (const auto& raw : plan.raw) {
            EXPECT_LT(raw.to - raw.from, 2 * kMsPerHour) << "raw records only for partial hours";
            pieces.emplace_back(raw.from, raw.to);
        }
        std::sort(pieces.begin(), pieces.end());
        std::int64_t at = from;
        for (const auto& [begin, end] : pieces) {
            ASSERT_EQ(begin, at) << "pieces must join without gap or overlap";
            ASSERT_LT(begin, end);
            at = end;
        }
        if (toNow) {
            ASSERT_GE(at, from + span);
        } else {
            ASSERT_EQ(at, from + span);
        }
    }

    for (const auto& [start, duration] : {std::pair<std::int64_t, std::int64_t>{-5, 10},
                                          {kMsPerHour - 1, 2 * kMsPerHour},
                                          {7, 0},
                                          {-kMsPerDay, 3 * kMsPerDay}}) {
        std::int64_t total = 0;
        double shares = 0;
        std::optional<std::int64_t> previous;
        ForEachBucket(start, duration, kMsPerHour, [&](std::int64_t bucket, std::int64_t part, double share) {
            EXPECT_EQ(bucket, previous.value_or(bucket - 1) + 1) << "buckets follow one another";
            previous = bucket;
            total += part;
            shares += share;
        });
        EXPECT_EQ(total, duration);
        EXPECT_NEAR(shares, 1.0, 1e-12);
    }
}

}  // namespace
}  // namespace qv::server
