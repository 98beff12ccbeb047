#include "rollup_accumulator.h"

#include "time_buckets.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qv::server {

namespace {

// Flushing keeps memory bounded while a large store is written.
constexpr std::size_t kFlushThreshold = 1'000'000;

std::string UpsertSql(const char* table, bool windowLevel) {
  const std::string columns = windowLevel ? "program_id, bucket, user_id, computer_id, window_id"
                                          : "bucket, user_id, computer_id, program_id";
  return std::string("INSERT INTO ") + table + "(" + columns + ", time_ms, keyboard_events, mouse_events) VALUES(" +
         (windowLevel ? "?1, ?2, ?3, ?4, ?5" : "?1, ?2, ?3, ?4") +
         ", ?6, ?7, ?8) ON CONFLICT DO UPDATE SET time_ms = time_ms + excluded.time_ms, "
         "keyboard_events = keyboard_events + excluded.keyboard_events, "
         "mouse_events = mouse_events + excluded.mouse_events";
}

}  // namespace

std::size_t RollupAccumulator::KeyHash::operator()(const Key& key) const {
  std::size_t hash = 1469598103934665603ULL;
  for (const std::int64_t part : {key.bucket, key.user, key.computer, key.program, key.window}) {
    hash = (hash ^ static_cast<std::size_t>(part)) * 1099511628211ULL;
  }
  return hash;
}

RollupAccumulator::RollupAccumulator(Database& db) : m_db(db) {}

void RollupAccumulator::Add(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, double keyboardEvents,
                            double mouseEvents) {
  for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
    ForEachBucket(startMs, durationMs, kBucketLevels[level].ms, [&](std::int64_t bucket, std::int64_t timeMs, double share) {
      for (const bool windowLevel : {false, true}) {
        Table& table = windowLevel ? m_windows[level] : m_programs[level];
        auto [entry, added] =
            table.try_emplace(Key{bucket, ids.user, ids.computer, ids.program, windowLevel ? ids.window : 0});
        entry->second.timeMs += timeMs;
        entry->second.keyboardEvents += keyboardEvents * share;
        entry->second.mouseEvents += mouseEvents * share;
        if (added) ++m_pending;
      }
    });
  }
  if (m_pending >= kFlushThreshold) Flush();
}

void RollupAccumulator::Flush() {
  if (m_pending == 0) return;
  for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
    const std::string name = kBucketLevels[level].name;
    Write(m_programs[level], name + "_programs", false);
    Write(m_windows[level], name + "_windows", true);
  }
  m_pending = 0;
}

void RollupAccumulator::Write(Table& table, const std::string& tableName, bool windowLevel) {
  Statement upsert(m_db, UpsertSql(tableName.c_str(), windowLevel));
  // In key order, so that the tables' b-trees are written front to back.
  std::vector<std::pair<Key, Sums>> rows(table.begin(), table.end());
  table.clear();
  const auto order = [windowLevel](const Key& k) {
    return windowLevel ? std::tuple(k.program, k.bucket, k.user, k.computer, k.window)
                       : std::tuple(k.bucket, k.user, k.computer, k.program, std::int64_t{0});
  };
  std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return order(a.first) < order(b.first); });
  for (const auto& [key, sums] : rows) {
    upsert.Reset();
    const auto keyParts = order(key);
    upsert.Bind(1, std::get<0>(keyParts));
    upsert.Bind(2, std::get<1>(keyParts));
    upsert.Bind(3, std::get<2>(keyParts));
    upsert.Bind(4, std::get<3>(keyParts));
    if (windowLevel) upsert.Bind(5, std::get<4>(keyParts));
    upsert.Bind(6, sums.timeMs);
    upsert.Bind(7, sums.keyboardEvents);
    upsert.Bind(8, sums.mouseEvents);
    upsert.Step();
  }
}

}  // namespace qv::server
