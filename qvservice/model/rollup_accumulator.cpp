#include "qvservice/model/rollup_accumulator.h"

#include "qvservice/model/store_schema.h"
#include "qvservice/model/time_buckets.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qv::server {

namespace {

// Flushing keeps memory bounded while a large store is written.
constexpr std::size_t kFlushThreshold = 1'000'000;

}  // namespace

std::size_t RollupAccumulator::KeyHash::operator()(const Key& key) const {
    std::size_t hash = 1469598103934665603ULL;
    for (const std::int64_t part : {key.bucket, key.user, key.computer, key.program, key.window}) {
        hash = (hash ^ static_cast<std::size_t>(part)) * 1099511628211ULL;
    }
    return hash;
}

RollupAccumulator::RollupAccumulator(Database& db) : db_(db) {}

void RollupAccumulator::Add(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, double keyboardEvents,
                            double mouseEvents) {
    Gather(ids, startMs, durationMs, keyboardEvents, mouseEvents, 1);
}

void RollupAccumulator::Remove(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs,
                               double keyboardEvents, double mouseEvents) {
    Gather(ids, startMs, durationMs, keyboardEvents, mouseEvents, -1);
}

void RollupAccumulator::Gather(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs,
                               double keyboardEvents, double mouseEvents, int sign) {
    // Negating the factor negates each product exactly.
    keyboardEvents *= sign;
    mouseEvents *= sign;
    for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
        ForEachBucket(startMs, durationMs, kBucketLevels[level],
                      [&](std::int64_t bucket, std::int64_t timeMs, double share) {
                          for (const bool windowLevel : {false, true}) {
                              if (windowLevel && !kBucketLevels[level].windows) continue;
                              Table& table = windowLevel ? windows_[level] : programs_[level];
                              auto [entry, added] = table.try_emplace(
                                  Key{bucket, ids.user, ids.computer, ids.program, windowLevel ? ids.window : 0});
                              entry->second.timeMs += sign * timeMs;
                              entry->second.keyboardEvents += keyboardEvents * share;
                              entry->second.mouseEvents += mouseEvents * share;
                              if (added) ++pending_;
                          }
                      });
    }
    if (pending_ >= kFlushThreshold) Flush();
}

void RollupAccumulator::Flush() {
    if (pending_ == 0) return;
    for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
        const std::string name = kBucketLevels[level].name;
        Write(programs_[level], name + "_programs", false);
        if (kBucketLevels[level].windows) Write(windows_[level], name + "_windows", true);
    }
    pending_ = 0;
}

void RollupAccumulator::Write(Table& table, const std::string& tableName, bool windowLevel) {
    if (table.empty()) return;
    // In key order, so that the tables' b-trees are written front to back.
    std::vector<std::pair<Key, Sums>> rows(table.begin(), table.end());
    table.clear();
    const auto order = [windowLevel](const Key& k) {
        return windowLevel ? std::tuple(k.program, k.bucket, k.user, k.computer, k.window)
                           : std::tuple(k.bucket, k.user, k.computer, k.program, std::int64_t{0});
    };
    std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return order(a.first) < order(b.first); });
    const auto merger =
        db_.Merge(tableName, kRollupKey[windowLevel ? 1 : 0], {"time_ms", "keyboard_events", "mouse_events"});
    std::vector<SqlValue> values;
    for (const auto& [key, sums] : rows) {
        const auto [a, b, c, d, e] = order(key);
        values.assign({a, b, c, d});
        if (windowLevel) values.emplace_back(e);
        values.insert(values.end(), {sums.timeMs, sums.keyboardEvents, sums.mouseEvents});
        merger->Add(values);
    }
    merger->Finish();
}

}  // namespace qv::server
