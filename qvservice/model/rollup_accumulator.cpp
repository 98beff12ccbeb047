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

// Adds rows to a rollup table; a row whose key is there already adds its sums.
std::string MergeSql(const std::string& table, bool windowLevel, const std::string& rows) {
    std::string sql = "INSERT INTO " + table + "(" + Joined(Columns(windowLevel)) + ") " + rows + " ON CONFLICT(" +
                      kRollupKey[windowLevel ? 1 : 0] + ") DO UPDATE SET ";
    const char* separator = "";
    for (const char* sum : {"time_ms", "keyboard_events", "mouse_events"}) {
        sql += separator + std::string(sum) + " = " + table + "." + sum + " + excluded." + sum;
        separator = ", ";
    }
    return sql;
}

// An in-process engine merges a row at a time with one prepared statement.
class UpsertMerger final : public BulkLoader {
public:
    UpsertMerger(Database& db, const std::string& table, bool windowLevel) : upsert_(db, Sql(table, windowLevel)) {}

    void Add(std::span<const SqlValue> row) override {
        upsert_.Reset();
        for (std::size_t i = 0; i < row.size(); ++i) {
            std::visit([&](auto value) { upsert_.Bind(static_cast<int>(i + 1), value); }, row[i]);
        }
        upsert_.Step();
    }
    void Finish() override {}

private:
    static std::string Sql(const std::string& table, bool windowLevel) {
        std::string parameters;
        for (std::size_t i = 1; i <= Columns(windowLevel).size(); ++i) {
            parameters += (i > 1 ? ", ?" : "?") + std::to_string(i);
        }
        return MergeSql(table, windowLevel, "VALUES(" + parameters + ")");
    }

    Statement upsert_;
};

// A database server (PostgreSQL) gets the rows in one load into a staging
// table and one merge statement: a round trip per row would dominate.
class StagedMerger final : public BulkLoader {
public:
    StagedMerger(Database& db, const std::string& table, bool windowLevel)
        : db_(db), table_(table), windowLevel_(windowLevel), stage_(CreateStage(db, windowLevel)) {
        loader_ = db.Load(stage_, Columns(windowLevel));
    }

    void Add(std::span<const SqlValue> row) override { loader_->Add(row); }
    void Finish() override {
        loader_->Finish();
        db_.Exec(MergeSql(table_, windowLevel_,
                          "SELECT " + Joined(Columns(windowLevel_)) + " FROM " + stage_ + " WHERE TRUE"));
        // For a second flush in the same transaction; the commit then empties
        // the table where it lies, dead rows and all (a TRUNCATE would make a
        // new file for it every time).
        db_.Exec("DELETE FROM " + stage_);
    }

private:
    static std::string CreateStage(Database& db, bool windowLevel) {
        const std::string stage = std::string("rollup_stage_") + (windowLevel ? "windows" : "programs");
        const Dialect& types = db.Types();
        std::string definitions;
        for (const auto& column : Columns(windowLevel)) {
            definitions +=
                (definitions.empty() ? "" : ", ") + column + " " + (IsEventSum(column) ? types.real : types.integer);
        }
        db.Exec("CREATE TEMP TABLE IF NOT EXISTS " + stage + "(" + definitions + ") ON COMMIT DELETE ROWS");
        return stage;
    }

    Database& db_;
    std::string table_;
    bool windowLevel_;
    std::string stage_;
    std::unique_ptr<BulkLoader> loader_;
};

std::unique_ptr<BulkLoader> Merger(Database& db, const std::string& table, bool windowLevel) {
    if (db.Types().stageMerges) return std::make_unique<StagedMerger>(db, table, windowLevel);
    return std::make_unique<UpsertMerger>(db, table, windowLevel);
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
    const auto merger = Merger(db_, tableName, windowLevel);
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
