#include "qvservice/model/store_schema.h"

#include "qvservice/model/time_buckets.h"
#include "qvservice/store/store_database.h"
#include "records/log.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::server {

namespace {

// Type names in braces come from the engine's dialect.
constexpr const char* kSchema = R"sql(
CREATE TABLE users(id {id}, name {name} NOT NULL UNIQUE);
CREATE TABLE computers(id {id}, name {name} NOT NULL UNIQUE);
CREATE TABLE programs(
  id {id},
  process_name {name} NOT NULL UNIQUE,
  description {name} NOT NULL DEFAULT '',
  icon {blob});
CREATE TABLE window_titles(
  id {id},
  program_id {integer} NOT NULL REFERENCES programs(id),
  title {name} NOT NULL,
  UNIQUE(program_id, title));
{activity}
CREATE TABLE imports(
  id {id},
  content_sha256 {blob} NOT NULL UNIQUE,
  file_name {name} NOT NULL,
  imported_at_ms {integer} NOT NULL,
  records {integer} NOT NULL);
{recorders}
CREATE TABLE store_info(key TEXT PRIMARY KEY, value {integer} NOT NULL){keyed};
INSERT INTO store_info(key, value) VALUES('max_duration_ms', 0);
INSERT INTO store_info(key, value) VALUES('latest_end_ms', 0);
)sql";

// Keyed by start, so that a period's records are found without an index of
// their own: SQLite keeps them in that order.
constexpr const char* kActivityTable = R"sql(
CREATE TABLE activity(
  id {record_id},
  user_id {integer} NOT NULL,
  computer_id {integer} NOT NULL,
  program_id {integer} NOT NULL,
  window_id {integer} NOT NULL,
  start_ms {integer} NOT NULL,
  duration_ms {integer} NOT NULL,
  keyboard_events {integer} NOT NULL,
  mouse_events {integer} NOT NULL,
  PRIMARY KEY(start_ms, id)){keyed};
)sql";

// The latest end of a store's records, found among those that started at
// most the longest duration before the last start.
constexpr const char* kAddLatestEnd = R"sql(
INSERT INTO store_info(key, value)
SELECT 'latest_end_ms', coalesce(max(start_ms + CASE WHEN duration_ms = 0 THEN 1 ELSE duration_ms END), 0)
FROM activity
WHERE start_ms >= (SELECT coalesce(max(start_ms), 0) FROM activity) -
                  (SELECT value FROM store_info WHERE key = 'max_duration_ms')
)sql";

// Per recorder, the highest record number committed: a batch sent again
// after a lost answer stores nothing twice.
constexpr const char* kRecordersTable =
    "CREATE TABLE recorders(recorder_id {blob} PRIMARY KEY, last_sequence {integer} NOT NULL){keyed};";

// A rollup table of a bucket level: totals per bucket at program level, or
// at window-title level keyed by program first, as title answers always name
// one.
std::string RollupTable(const BucketLevel& level, bool windows) {
    const std::string name = level.name;
    if (!windows) {
        return "CREATE TABLE " + name +
               "_programs(bucket {integer} NOT NULL, user_id {integer} NOT NULL, "
               "computer_id {integer} NOT NULL, program_id {integer} NOT NULL, time_ms {integer} NOT NULL, "
               "keyboard_events {real} NOT NULL, mouse_events {real} NOT NULL, "
               "PRIMARY KEY(" +
               CommaSeparated(kRollupKey[0]) + ")){keyed};\n";
    }
    return "CREATE TABLE " + name +
           "_windows(program_id {integer} NOT NULL, bucket {integer} NOT NULL, "
           "user_id {integer} NOT NULL, computer_id {integer} NOT NULL, window_id {integer} NOT NULL, "
           "time_ms {integer} NOT NULL, keyboard_events {real} NOT NULL, mouse_events {real} NOT NULL, "
           "PRIMARY KEY(" +
           CommaSeparated(kRollupKey[1]) + ")){keyed};\n";
}

std::string RollupSchema(const BucketLevel& level) {
    return RollupTable(level, false) + (level.windows ? RollupTable(level, true) : "");
}

std::string WithTypes(std::string sql, const Dialect& types) {
    const std::pair<std::string_view, const char*> names[] = {
        {"{recorders}", kRecordersTable}, {"{activity}", kActivityTable}, {"{record_id}", types.recordId},
        {"{id}", types.idColumn},         {"{integer}", types.integer},   {"{real}", types.real},
        {"{name}", types.name},           {"{blob}", types.blob},         {"{keyed}", types.keyedTable}};
    for (const auto& [token, type] : names) {
        for (std::size_t at = sql.find(token); at != std::string::npos; at = sql.find(token, at)) {
            sql.replace(at, token.size(), type);
            at += std::string_view(type).size();
        }
    }
    return sql;
}

void CheckVersion(Database& db, int version, int oldest) {
    if (version > kStoreVersion) {
        throw StoreError(db.Name() + " holds a store of version " + std::to_string(version) +
                         ", written by a newer qvservice; this one reads version " + std::to_string(kStoreVersion));
    }
    if (version == 0) {
        throw StoreError(db.Name() + " holds no Quorvis store; qvservice init, import or demo creates one");
    }
    if (version < oldest) {
        throw StoreError(db.Name() + " is not a Quorvis store of version " + std::to_string(oldest) + " to " +
                         std::to_string(kStoreVersion) + " (found version " + std::to_string(version) +
                         (oldest > kOldestUpgradableVersion ? "; qvservice init upgrades it)" : ")"));
    }
}

const BucketLevel& Level(std::string_view name) {
    return *std::find_if(kBucketLevels.begin(), kBucketLevels.end(),
                         [&](const BucketLevel& level) { return level.name == name; });
}

// The bucket of a finer level's row in a level ratio times as large: floor
// division on both engines, whose "/" truncates toward zero.
std::string CoarserBucket(std::int64_t ratio) {
    const std::string r = std::to_string(ratio);
    return "(bucket - ((bucket % " + r + ") + " + r + ") % " + r + ") / " + r;
}

// A level's tables that an older store lacks, summed from the rows of a finer
// level it has (joined to from, when given), bucket naming their bucket in
// the new level.
void AddRollupLevel(Database& db, std::string_view name, std::string_view finerName, const std::string& bucket,
                    const std::string& join = "") {
    const BucketLevel& level = Level(name);
    const BucketLevel& finer = Level(finerName);
    for (std::size_t windowLevel = 0; windowLevel < (level.windows ? 2u : 1u); ++windowLevel) {
        db.Exec(WithTypes(RollupTable(level, windowLevel == 1), db.Types()));
        const char* suffix = windowLevel ? "_windows" : "_programs";
        std::string keys;
        for (const std::string& key : kRollupKey[windowLevel]) keys += ", " + (key == "bucket" ? bucket : key);
        db.Exec("INSERT INTO " + std::string(level.name) + suffix + "(" + CommaSeparated(kRollupKey[windowLevel]) +
                ", time_ms, keyboard_events, mouse_events) SELECT " + keys.substr(2) +
                ", sum(time_ms), sum(keyboard_events), sum(mouse_events) FROM " + finer.name + suffix + join +
                " GROUP BY " + keys.substr(2));
    }
}

void AddRollupLevel(Database& db, std::string_view name, std::string_view finerName) {
    AddRollupLevel(db, name, finerName, CoarserBucket(Level(name).ms / Level(finerName).ms));
}

// Calendar months summed from the days, through a table of each day's month;
// years from the months.
void AddMonthsAndYears(Database& db) {
    db.Exec(WithTypes("CREATE TEMPORARY TABLE day_months(day {integer} PRIMARY KEY, month {integer} NOT NULL)",
                      db.Types()));
    std::vector<std::int64_t> days;
    {
        Statement read(db, "SELECT DISTINCT bucket FROM day_programs");
        while (read.Step()) days.push_back(read.Int64(0));
    }
    {
        Statement add(db, "INSERT INTO day_months(day, month) VALUES(?1, ?2)");
        for (const std::int64_t day : days) {
            add.Reset();
            add.Bind(1, day);
            add.Bind(2, BucketOf(Level("month"), day * kMsPerDay));
            add.Step();
        }
    }
    AddRollupLevel(db, "month", "day", "month", " JOIN day_months ON day = bucket");
    db.Exec("DROP TABLE day_months");
    AddRollupLevel(db, "year", "month", CoarserBucket(Level("year").months / Level("month").months));
}

// Version 5's records were keyed by an id of their own, with an index of
// starts. Where the engine keeps a table in key order, they are copied into
// start order, numbered within each start; a database server's rows have no
// order, and only its key changes.
void KeyRecordsByStart(Database& db) {
    if (std::string_view(db.Types().keyedTable).empty()) {
        db.Exec("ALTER TABLE activity DROP CONSTRAINT activity_pkey, ADD PRIMARY KEY (start_ms, id)");
        db.Exec("DROP INDEX activity_by_start");
        return;
    }
    LogLine(db.Name() + ": keying the records by their start; a large store takes minutes");
    db.Exec("ALTER TABLE activity RENAME TO activity_by_id");
    db.Exec(WithTypes(kActivityTable, db.Types()));
    // The start index gives them in that order: no sort.
    db.Exec(
        "INSERT INTO activity SELECT row_number() OVER (PARTITION BY start_ms ORDER BY id) - 1, user_id, "
        "computer_id, program_id, window_id, start_ms, duration_ms, keyboard_events, mouse_events FROM "
        "activity_by_id");
    db.Exec("DROP TABLE activity_by_id");
}

// Stores written before it existed get it at their next write; readers only
// lose speed without it.
std::string LongRecordIndex() {
    return "CREATE INDEX IF NOT EXISTS activity_long_by_start ON activity(start_ms) WHERE duration_ms > " +
           std::to_string(kLongRecordMs);
}

}  // namespace

void EnsureSchema(Database& db) {
    Transaction transaction(db, Transaction::Kind::Write);
    PrepareSchema(db);
    transaction.Commit();
}

void InitSchema(Database& db) {
    if (db.SchemaVersion() == kStoreVersion) return;
    EnsureSchema(db);
}

void PrepareSchema(Database& db) {
    int version = db.SchemaVersion();
    if (version == 0) {
        if (db.HoldsForeignTables()) {
            throw StoreError(db.Name() + " holds tables of another program; give the store a database of its own");
        }
        db.Exec(WithTypes(kSchema, db.Types()));
        for (const BucketLevel& level : kBucketLevels) db.Exec(WithTypes(RollupSchema(level), db.Types()));
        db.SetSchemaVersion(kStoreVersion);
        version = kStoreVersion;
    }
    CheckVersion(db, version, kOldestUpgradableVersion);
    if (version < 2) db.Exec(WithTypes(kRecordersTable, db.Types()));
    if (version < 3) AddRollupLevel(db, "all", "block");
    if (version < 4) AddRollupLevel(db, "days4", "day");
    if (version < 5) {
        db.Exec("DROP TABLE IF EXISTS all_windows");
        db.Exec(kAddLatestEnd);
    }
    if (version < 6) {
        // Calendar years and months replace the 128-day buckets.
        db.Exec("DROP TABLE IF EXISTS days128_programs");
        db.Exec("DROP TABLE IF EXISTS days128_windows");
        AddMonthsAndYears(db);
        KeyRecordsByStart(db);
    }
    if (version < kStoreVersion) db.SetSchemaVersion(kStoreVersion);
    db.Exec(LongRecordIndex());
    // Foreign keys would check the activity's names once a row, most of a
    // database server's cost of a write; RecordWriter checks them once a
    // write instead. Stores made before lose theirs at their next write.
    db.DropForeignKeys("activity");
}

void CheckSchema(Database& db) { CheckVersion(db, db.SchemaVersion(), kOldestReadableVersion); }

void UpgradeOlderStore(Database& db) {
    const int version = db.SchemaVersion();
    if (version >= kOldestUpgradableVersion && version < kStoreVersion) EnsureSchema(db);
}

RecordExtent ReadRecordExtent(Database& db) {
    RecordExtent extent;
    Statement read(db, "SELECT key, value FROM store_info WHERE key IN ('max_duration_ms', 'latest_end_ms')");
    while (read.Step()) {
        (read.Bytes(0) == "max_duration_ms" ? extent.maxDurationMs : extent.latestEndMs) = read.Int64(1);
    }
    return extent;
}

void RaiseRecordExtent(Database& db, const RecordExtent& written) {
    // Writes (and locks) a row only when it rises. The longest duration
    // rarely does; the latest end does with most live batches, so writers at
    // the same time wait for each other's commit there, at the end of their
    // work.
    for (const auto& [key, value] :
         {std::pair{"max_duration_ms", written.maxDurationMs}, std::pair{"latest_end_ms", written.latestEndMs}}) {
        Statement raise(db, std::string("UPDATE store_info SET value = ?1 WHERE key = '") + key + "' AND value < ?1");
        raise.Bind(1, value);
        raise.Step();
    }
}

// The keys are this program's constants, written into the SQL: a bound text
// is a name's bytes to PostgreSQL.
std::int64_t ReadCounter(Database& db, const char* key) {
    Statement read(db, std::string("SELECT value FROM store_info WHERE key = '") + key + "'");
    return read.Step() ? read.Int64(0) : 0;
}

void RaiseCounter(Database& db, const char* key) {
    Statement raise(db, std::string("INSERT INTO store_info(key, value) VALUES('") + key +
                            "', 1) ON CONFLICT(key) DO UPDATE SET value = store_info.value + 1");
    raise.Step();
}

}  // namespace qv::server
