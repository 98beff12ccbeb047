// The store's tables. Activity records keep every detail; rollup tables hold
// the same totals per bucket of time (see time_buckets.h), at program level
// and at window-title level, so that long periods are summed from few rows.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace qv::server {

class Database;

// Version 2 adds the recorders' numbers (recorders), version 3 the
// all-time rollups (all_programs, all_windows), version 4 those of 128 and of
// 4 days, version 5 the records' latest end and moves the title totals of all
// time to 128 days, version 6 keys the records by their start and replaces
// the 128 days with calendar years and months. Older stores are upgraded by
// init, by serve at its start and by any write.
inline constexpr int kStoreVersion = 6;
inline constexpr int kOldestReadableVersion = 6;
inline constexpr int kOldestUpgradableVersion = 1;

// The keys of the rollup tables: at program level, and at window-title level.
inline const std::array<std::vector<std::string>, 2> kRollupKey{
    std::vector<std::string>{"bucket", "user_id", "computer_id", "program_id"},
    std::vector<std::string>{"program_id", "bucket", "user_id", "computer_id", "window_id"}};

// Records longer than this have an index of their own, so that one long
// record does not widen the search of every period's edges.
inline constexpr std::int64_t kLongRecordMs = 86'400'000;

// Creates the tables in an empty store, or upgrades an older one; checks
// the version of any other. Runs in the caller's write
// transaction, so that a failed write leaves no empty tables behind either.
void PrepareSchema(Database& db);
// The same in a write transaction of its own.
void EnsureSchema(Database& db);
// init: EnsureSchema, but a store of this version is only read, so that a
// service restarted during an import does not wait for the import's lock,
// and a service whose database role may only read still starts.
void InitSchema(Database& db);
// Checks that the store carries this program's tables, of a version it reads.
void CheckSchema(Database& db);
// serve: upgrades a store of an older version in a write transaction of its
// own; leaves any other as it is, for CheckSchema to name what is wrong.
void UpgradeOlderStore(Database& db);

// Where the records lie in time.
struct RecordExtent {
    // The longest recorded duration: a record that overlaps a moment started
    // at most this long before it.
    std::int64_t maxDurationMs = 0;
    // No record lies at or after this moment (a record without duration
    // counts as lasting a millisecond). The largest value when unknown.
    std::int64_t latestEndMs = std::numeric_limits<std::int64_t>::max();
};
RecordExtent ReadRecordExtent(Database& db);
// Raises what it gives above what is stored; lowers nothing.
void RaiseRecordExtent(Database& db, const RecordExtent& written);

// Counters in store_info that writers read at the start of a write transaction.
// Raised whenever names are removed: ids that a writer kept from an earlier
// transaction may name nothing now.
inline constexpr const char* kNamesGeneration = "names_generation";
// 0 for a counter never raised.
std::int64_t ReadCounter(Database& db, const char* key);
void RaiseCounter(Database& db, const char* key);

}  // namespace qv::server
