// Live records: a recorder's numbered batch into the store, exactly once.
// The records, their rollups and the recorder's highest number commit in one
// transaction, so a batch sent again after a lost answer stores nothing
// twice, and an acknowledged record is in every answer at once.
#pragma once

#include "qvservice/model/entity_directory.h"
#include "records/activity_record.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qv::server {

class Database;

struct ProgramIcon {
    std::string process;
    std::vector<unsigned char> icon;  // icon-file bytes
};

struct RecordBatch {
    std::string recorderId;
    std::uint64_t firstSequence = 0;  // the number of records[0]; the others follow one by one
    std::vector<ActivityRecord> records;
    std::vector<ProgramIcon> icons;
};

struct BatchReceipt {
    std::uint64_t committedSequence = 0;  // the recorder's highest number in the store
    std::int64_t stored = 0;              // records of this batch stored now (not before)
    std::vector<std::string> programsWithoutIcon;
};

inline constexpr std::size_t kRecorderIdBytes = 16;
inline constexpr std::size_t kMaxBatchRecords = 10'000;

// Throws InvalidRecord for a bad batch (naming the record) before touching
// the store; nothing of such a batch is stored.
void ValidateBatch(const RecordBatch& batch);

// Batches that arrive while one is written wait and are then written
// together, in one transaction: the rollups' merge and the commit, which
// cost the most, are paid once for all of them. On a database server,
// several such groups are written at once, each by a connection of its own.
class BatchIngest {
public:
    // Opens the store at the first batch.
    explicit BatchIngest(std::string store);
    ~BatchIngest();

    // Throws InvalidRecord, or StoreError when the store fails (the batch is
    // then not stored, and may be sent again).
    BatchReceipt Store(const RecordBatch& batch);

private:
    struct Pending {
        const RecordBatch* batch;
        BatchReceipt receipt;
        std::exception_ptr error;
        bool done = false;
    };
    // A connection and what it has learnt of the store: asked once, not per batch.
    struct Writer {
        std::unique_ptr<Database> db;
        NameCache names;
        // The store's names generation that names was filled under.
        std::int64_t namesGeneration = 0;
        std::set<std::int64_t> programsWithIcon;
        std::map<std::int64_t, std::string> programsWithoutIcon;
        void Forget();
    };
    void WriteGroup(Writer& writer, const std::vector<Pending*>& group);
    void WriteAll(Writer& writer, const std::vector<Pending*>& group);

    std::string store_;
    std::mutex mutex_;
    std::condition_variable written_;
    std::vector<Pending*> queue_;
    std::vector<std::unique_ptr<Writer>> idle_;
    int writing_ = 0;
    int maxWriters_ = 1;  // the engine's, once a connection is open
};

}  // namespace qv::server
