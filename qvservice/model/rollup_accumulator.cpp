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

// In the order of the table's key, as RollupAccumulator::Write sorts.
std::vector<std::string> Columns(bool windowLevel) {
    std::vector<std::string> columns =
        windowLevel ? std::vector<std::string>{"program_id", "bucket", "user_id", "computer_id", "window_id"}
                    : std::vector<std::string>{"bucket", "user_id", "computer_id", "program_id"};
    columns.insert(columns.end(), {"time_ms", "keyboard_events", "mouse_events"});
    return columns;
}

bool IsEventSum(const std::string& column) { return column == "keyboard_events" || column == "mouse_events"; }

std::string Joined(const std::vector<std::string>& columns) {
    std::string joined;
    for (const auto& column : columns) joined += (joined.empty() ? "" : ", ") + column;
    return joined;
}

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
    for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
        ForEachBucket(startMs, durationMs, kBucketLevels[level].ms,
                      [&](std::int64_t bucket, std::int64_t timeMs, double share) {
                          for (const bool windowLevel : {false, true}) {
                              Table& table = windowLevel ? windows_[level] : programs_[level];
                              auto [entry, added] = table.try_emplace(
                                  Key{bucket, ids.user, ids.computer, ids.program, windowLevel ? ids.window : 0});
                              entry->second.timeMs += timeMs;
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
        Write(windows_[level], name + "_windows", true);
    }
    pending_ = 0;
}

// The batch is loaded into a staging table and merged from there in one
// statement: a round trip per row would dominate on a database server.
void RollupAccumulator::Write(Table& table, const std::string& tableName, bool windowLevel) {
    if (table.empty()) return;
    const std::vector<std::string> columns = Columns(windowLevel);
    const std::string stage = std::string("rollup_stage_") + (windowLevel ? "windows" : "programs");
    const Dialect& types = db_.Types();
    std::string definitions;
    for (const auto& column : columns) {
        definitions +=
            (definitions.empty() ? "" : ", ") + column + " " + (IsEventSum(column) ? types.real : types.integer);
    }
    db_.Exec("CREATE TEMP TABLE IF NOT EXISTS " + stage + "(" + definitions + ")");

    // In key order, so that the tables' b-trees are written front to back.
    std::vector<std::pair<Key, Sums>> rows(table.begin(), table.end());
    table.clear();
    const auto order = [windowLevel](const Key& k) {
        return windowLevel ? std::tuple(k.program, k.bucket, k.user, k.computer, k.window)
                           : std::tuple(k.bucket, k.user, k.computer, k.program, std::int64_t{0});
    };
    std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return order(a.first) < order(b.first); });
    const auto loader = db_.Load(stage, columns);
    std::vector<SqlValue> values;
    for (const auto& [key, sums] : rows) {
        const auto [a, b, c, d, e] = order(key);
        values.assign({a, b, c, d});
        if (windowLevel) values.emplace_back(e);
        values.insert(values.end(), {sums.timeMs, sums.keyboardEvents, sums.mouseEvents});
        loader->Add(values);
    }
    loader->Finish();

    const std::string names = Joined(columns);
    std::string merge = "INSERT INTO " + tableName + "(" + names + ") SELECT " + names + " FROM " + stage +
                        " WHERE TRUE ON CONFLICT(" + kRollupKey[windowLevel ? 1 : 0] + ") DO UPDATE SET ";
    const char* separator = "";
    for (const char* sum : {"time_ms", "keyboard_events", "mouse_events"}) {
        merge += separator + std::string(sum) + " = " + tableName + "." + sum + " + excluded." + sum;
        separator = ", ";
    }
    db_.Exec(merge);
    // A connection that writes batch after batch keeps the staging table: on
    // PostgreSQL deleted rows would stay in it, and every merge would read them.
    db_.Exec(types.emptyTable + stage);
}

}  // namespace qv::server
