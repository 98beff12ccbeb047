// Stores activity records: their ids, the raw record and its share of the
// hour and day totals. Every writer of the store (import, demo data, tests,
// benchmark) goes through it, inside one write transaction of the caller.
// The ids a record names are checked once a write, for each distinct id:
// foreign keys would check them once a row.
#pragma once

#include "qvservice/model/entity_directory.h"
#include "qvservice/model/rollup_accumulator.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "records/activity_record.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

namespace qv::server {

class RecordWriter {
public:
    // names: see NameCache; null for one of the writer's own.
    explicit RecordWriter(Database& db, NameCache* names = nullptr);

    // Throws InvalidRecord for a record out of bounds.
    RecordIds Add(const ActivityRecord& record);
    // For writers that resolved the ids themselves and checked the bounds.
    void AddResolved(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, std::int64_t keyboardEvents,
                     std::int64_t mouseEvents);
    // Writes what is still gathered in memory; call before committing.
    // Throws StoreError when a record names an id its table does not hold.
    void Finish();

    EntityDirectory& Entities() { return entities_; }
    std::int64_t RecordCount() const { return records_; }

private:
    Database& db_;
    EntityDirectory entities_;
    RollupAccumulator rollups_;
    std::unique_ptr<BulkLoader> activity_;
    // Of users, computers, programs, window titles: the ids the records name.
    std::array<std::unordered_set<std::int64_t>, 4> named_;
    RecordExtent extent_{0, std::numeric_limits<std::int64_t>::min()};
    std::int64_t records_ = 0;
};

}  // namespace qv::server
