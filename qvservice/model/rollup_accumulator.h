// Gathers the bucket totals of newly stored records in memory and adds them
// to the rollup tables in sorted batches (existing rows are added to, so
// several flushes and several imports sum up).
#pragma once

#include "qvservice/model/time_buckets.h"
#include "qvservice/store/store_database.h"

#include <array>
#include <cstdint>
#include <unordered_map>

namespace qv::server {

struct RecordIds {
    std::int64_t user = 0;
    std::int64_t computer = 0;
    std::int64_t program = 0;
    std::int64_t window = 0;
};

class RollupAccumulator {
public:
    explicit RollupAccumulator(Database& db);

    void Add(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, double keyboardEvents,
             double mouseEvents);
    // Takes a stored record's shares back out: the same shares, negated, so
    // that a removal undoes exactly what the record's Add put in.
    void Remove(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, double keyboardEvents,
                double mouseEvents);
    void Flush();

private:
    struct Key {
        std::int64_t bucket;
        std::int64_t user;
        std::int64_t computer;
        std::int64_t program;
        std::int64_t window;  // 0 at program level
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const;
    };
    struct Sums {
        std::int64_t timeMs = 0;
        double keyboardEvents = 0;
        double mouseEvents = 0;
    };
    using Table = std::unordered_map<Key, Sums, KeyHash>;

    void Gather(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs, double keyboardEvents,
                double mouseEvents, int sign);
    void Write(Table& table, const std::string& tableName, bool windowLevel);

    Database& db_;
    std::array<Table, kBucketLevelCount> programs_;  // by bucket level
    std::array<Table, kBucketLevelCount> windows_;
    std::size_t pending_ = 0;
};

}  // namespace qv::server
