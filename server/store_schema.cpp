#include "store_schema.h"

#include "sqlite_db.h"
#include "time_buckets.h"

#include <string>

namespace qv::server {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE users(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE computers(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);
CREATE TABLE programs(
  id INTEGER PRIMARY KEY,
  process_name TEXT NOT NULL UNIQUE,
  description TEXT NOT NULL DEFAULT '',
  icon BLOB);
CREATE TABLE window_titles(
  id INTEGER PRIMARY KEY,
  program_id INTEGER NOT NULL REFERENCES programs(id),
  title TEXT NOT NULL,
  UNIQUE(program_id, title));
CREATE TABLE activity(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  computer_id INTEGER NOT NULL REFERENCES computers(id),
  program_id INTEGER NOT NULL REFERENCES programs(id),
  window_id INTEGER NOT NULL REFERENCES window_titles(id),
  start_ms INTEGER NOT NULL,
  duration_ms INTEGER NOT NULL,
  keyboard_events INTEGER NOT NULL,
  mouse_events INTEGER NOT NULL);
CREATE INDEX activity_by_start ON activity(start_ms);
CREATE TABLE imports(
  id INTEGER PRIMARY KEY,
  content_sha256 BLOB NOT NULL UNIQUE,
  file_name TEXT NOT NULL,
  imported_at_ms INTEGER NOT NULL,
  records INTEGER NOT NULL);
CREATE TABLE store_info(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
INSERT INTO store_info(key, value) VALUES('max_duration_ms', 0);
)sql";

// The rollup tables of each bucket level: totals per bucket at program level,
// and at window-title level keyed by program first, as title answers always
// name one.
std::string RollupSchema() {
  std::string sql;
  for (const BucketLevel& level : kBucketLevels) {
    const std::string name = level.name;
    sql += "CREATE TABLE " + name + "_programs(bucket INTEGER NOT NULL, user_id INTEGER NOT NULL, "
           "computer_id INTEGER NOT NULL, program_id INTEGER NOT NULL, time_ms INTEGER NOT NULL, "
           "keyboard_events REAL NOT NULL, mouse_events REAL NOT NULL, "
           "PRIMARY KEY(bucket, user_id, computer_id, program_id)) WITHOUT ROWID;\n";
    sql += "CREATE TABLE " + name + "_windows(program_id INTEGER NOT NULL, bucket INTEGER NOT NULL, "
           "user_id INTEGER NOT NULL, computer_id INTEGER NOT NULL, window_id INTEGER NOT NULL, "
           "time_ms INTEGER NOT NULL, keyboard_events REAL NOT NULL, mouse_events REAL NOT NULL, "
           "PRIMARY KEY(program_id, bucket, user_id, computer_id, window_id)) WITHOUT ROWID;\n";
  }
  return sql;
}

// Stores written before it existed get it at their next write; readers only
// lose speed without it.
std::string LongRecordIndex() {
  return "CREATE INDEX IF NOT EXISTS activity_long_by_start ON activity(start_ms) WHERE duration_ms > " +
         std::to_string(kLongRecordMs);
}

int UserVersion(Database& db) {
  Statement version(db, "PRAGMA user_version");
  return version.Step() ? static_cast<int>(version.Int64(0)) : 0;
}

bool HasTables(Database& db) {
  Statement count(db, "SELECT count(*) FROM sqlite_schema");
  return count.Step() && count.Int64(0) > 0;
}

}  // namespace

void EnsureSchema(Database& db) {
  Transaction transaction(db, Transaction::Kind::Immediate);
  if (UserVersion(db) == 0 && !HasTables(db)) {
    db.Exec(kSchema);
    db.Exec(RollupSchema().c_str());
    db.Exec(("PRAGMA user_version = " + std::to_string(kStoreVersion)).c_str());
  }
  CheckSchema(db);
  db.Exec(LongRecordIndex().c_str());
  transaction.Commit();
}

void CheckSchema(Database& db) {
  const int version = UserVersion(db);
  if (version != kStoreVersion) {
    throw StoreError(db.Path() + " is not a Quorvis store of version " + std::to_string(kStoreVersion) +
                     " (found version " + std::to_string(version) + ")");
  }
}

std::int64_t ReadMaxDuration(Database& db) {
  Statement read(db, "SELECT value FROM store_info WHERE key = 'max_duration_ms'");
  return read.Step() ? read.Int64(0) : 0;
}

void RaiseMaxDuration(Database& db, std::int64_t durationMs) {
  Statement raise(db, "UPDATE store_info SET value = max(value, ?1) WHERE key = 'max_duration_ms'");
  raise.Bind(1, durationMs);
  raise.Step();
}

}  // namespace qv::server
