// Stores activity records: their ids, the raw record and its share of the
// hour and day totals. Every writer of the store (import, demo data, tests,
// benchmark) goes through it, inside one write transaction of the caller.
#pragma once

#include "qvservice/model/entity_directory.h"
#include "qvservice/model/rollup_accumulator.h"
#include "qvservice/store/store_database.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

namespace qv::server {

struct ActivityRecord {
    std::string user;
    std::string computer;
    std::string process;
    std::string description;
    std::string windowTitle;
    std::int64_t startMs = 0;  // UTC
    std::int64_t durationMs = 0;
    std::int64_t keyboardEvents = 0;
    std::int64_t mouseEvents = 0;
};

// A record the store refuses; the text says why.
class InvalidRecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::int64_t kMaxDurationMs = 366LL * 86'400'000;
// The viewer reads a record's event counts as 32-bit integers.
inline constexpr std::int64_t kMaxEventCount = std::numeric_limits<std::int32_t>::max();
inline constexpr std::size_t kMaxTextBytes = 65535;

class RecordWriter {
public:
    explicit RecordWriter(Database& db);

    // Throws InvalidRecord for a record out of bounds.
    RecordIds Add(const ActivityRecord& record);
    // For writers that resolved the ids themselves and checked the bounds.
    void AddResolved(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, std::int64_t keyboardEvents,
                     std::int64_t mouseEvents);
    // Writes what is still gathered in memory; call before committing.
    void Finish();

    EntityDirectory& Entities() { return entities_; }
    std::int64_t RecordCount() const { return records_; }

private:
    Database& db_;
    EntityDirectory entities_;
    RollupAccumulator rollups_;
    std::unique_ptr<BulkLoader> activity_;
    std::int64_t maxDuration_ = 0;
    std::int64_t records_ = 0;
};

// Checks a record's fields; throws InvalidRecord.
void ValidateRecord(const ActivityRecord& record);

}  // namespace qv::server
