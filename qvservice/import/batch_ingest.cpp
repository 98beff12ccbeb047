#include "qvservice/import/batch_ingest.h"

#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "records/icon_file.h"
#include "records/log.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <span>
#include <vector>

namespace qv::server {

namespace {

std::span<const unsigned char> Bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Locks the recorder's row (made if new) until commit: a batch sent again
// while its first sending is still being written waits here for that commit,
// then finds it stored.
std::int64_t LockLastSequence(Database& db, const std::string& recorderId) {
    Statement insert(db, "INSERT INTO recorders(recorder_id, last_sequence) VALUES(?1, 0) ON CONFLICT DO NOTHING");
    insert.BindBlob(1, Bytes(recorderId));
    insert.Step();
    Statement read(db,
                   std::string("SELECT last_sequence FROM recorders WHERE recorder_id = ?1") + db.Types().updateLock);
    read.BindBlob(1, Bytes(recorderId));
    return read.Step() ? read.Int64(0) : 0;
}

void SetLastSequence(Database& db, const std::string& recorderId, std::int64_t sequence) {
    Statement update(db, "UPDATE recorders SET last_sequence = ?2 WHERE recorder_id = ?1");
    update.BindBlob(1, Bytes(recorderId));
    update.Bind(2, sequence);
    update.Step();
}

bool HasIcon(Database& db, std::int64_t program) {
    Statement read(db, "SELECT icon IS NOT NULL FROM programs WHERE id = ?1");
    read.Bind(1, program);
    return read.Step() && read.Int64(0) != 0;
}

std::string ProcessName(Database& db, std::int64_t program) {
    Statement read(db, "SELECT process_name FROM programs WHERE id = ?1");
    read.Bind(1, program);
    return read.Step() ? std::string(read.Bytes(0)) : std::string();
}

}  // namespace

void ValidateBatch(const RecordBatch& batch) {
    if (batch.recorderId.size() != kRecorderIdBytes) {
        throw InvalidRecord("the recorder id must be " + std::to_string(kRecorderIdBytes) + " bytes");
    }
    if (batch.records.size() > kMaxBatchRecords) {
        throw InvalidRecord("a batch holds at most " + std::to_string(kMaxBatchRecords) + " records");
    }
    // Numbers stay within the store's 64-bit integers.
    const auto maxSequence = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!batch.records.empty() &&
        (batch.firstSequence == 0 || batch.firstSequence > maxSequence - batch.records.size())) {
        throw InvalidRecord("record numbers start at 1 and stay below 2^63");
    }
    for (std::size_t i = 0; i < batch.records.size(); ++i) {
        try {
            ValidateRecord(batch.records[i]);
        } catch (const InvalidRecord& error) {
            throw InvalidRecord("record " + std::to_string(batch.firstSequence + i) + ": " + error.what());
        }
    }
    for (const ProgramIcon& icon : batch.icons) {
        if (icon.process.empty() || icon.process.size() > kMaxTextBytes) {
            throw InvalidRecord("an icon names no program, or one longer than " + std::to_string(kMaxTextBytes) +
                                " bytes");
        }
        if (const auto problem = IconFileProblem(icon.icon)) {
            throw InvalidRecord("the icon of " + Printable(icon.process) + ": " + *problem);
        }
    }
}

BatchIngest::BatchIngest(std::string store) : store_(std::move(store)) {}

BatchIngest::~BatchIngest() = default;

BatchReceipt BatchIngest::Store(const RecordBatch& batch) {
    ValidateBatch(batch);
    Pending mine{&batch, {}, {}, false};
    std::unique_lock lock(mutex_);
    queue_.push_back(&mine);
    while (!mine.done) {
        if (queue_.empty() || writing_ >= maxWriters_) {
            written_.wait(lock);
            continue;
        }
        // Whoever finds a writer free writes everything queued.
        ++writing_;
        std::unique_ptr<Writer> writer;
        if (idle_.empty()) {
            writer = std::make_unique<Writer>();
        } else {
            writer = std::move(idle_.back());
            idle_.pop_back();
        }
        std::vector<Pending*> group;
        group.swap(queue_);
        lock.unlock();
        WriteGroup(*writer, group);
        lock.lock();
        if (writer->db) maxWriters_ = writer->db->Types().appendWriters;
        idle_.push_back(std::move(writer));
        --writing_;
        written_.notify_all();
    }
    if (mine.error) std::rethrow_exception(mine.error);
    return mine.receipt;
}

void BatchIngest::Writer::Forget() {
    names.Clear();
    programsWithIcon.clear();
    programsWithoutIcon.clear();
}

void BatchIngest::WriteGroup(Writer& writer, const std::vector<Pending*>& group) {
    try {
        if (writer.db && writer.db->Broken()) writer.db.reset();
        if (!writer.db) {
            writer.db = OpenStore(store_, Database::Mode::ReadWrite);
            // Alone: writers that append side by side must not change the schema.
            EnsureSchema(*writer.db);
        }
        WriteAll(writer, group);
    } catch (...) {
        // Ids of the rolled-back transaction name nothing.
        writer.Forget();
        const auto error = std::current_exception();
        for (Pending* pending : group) pending->error = error;
    }
    for (Pending* pending : group) pending->done = true;
}

// Locks are taken in one order by every writer (recorders, then names, then
// icons, then rollups, each in key order), so that writers at the same time
// wait for each other but never deadlock.
void BatchIngest::WriteAll(Writer& writer, const std::vector<Pending*>& group) {
    Database& db = *writer.db;
    Transaction transaction(db, Transaction::Kind::Append);
    // Read under the writers' lock, so that a prune that removed names
    // before this transaction is seen, and none removes them during it.
    if (const std::int64_t generation = ReadCounter(db, kNamesGeneration); generation != writer.namesGeneration) {
        writer.Forget();
        writer.namesGeneration = generation;
    }
    std::map<std::string, std::int64_t> lastByRecorder;
    std::vector<std::span<const ActivityRecord>> records;
    for (const Pending* pending : group) {
        lastByRecorder.try_emplace(pending->batch->recorderId, 0);
        records.emplace_back(pending->batch->records);
    }
    for (auto& [recorderId, last] : lastByRecorder) last = LockLastSequence(db, recorderId);
    RecordWriter recordWriter(db, &writer.names);
    EntityDirectory& entities = recordWriter.Entities();
    entities.Prefetch(records);
    std::map<std::int64_t, const ProgramIcon*> icons;
    for (const Pending* pending : group) {
        for (const ProgramIcon& icon : pending->batch->icons) {
            icons.try_emplace(entities.ProgramId(icon.process, {}), &icon);
        }
    }
    for (const auto& [program, icon] : icons) {
        if (!writer.programsWithIcon.contains(program) && !HasIcon(db, program)) entities.SetIcon(program, icon->icon);
        writer.programsWithIcon.insert(program);
        writer.programsWithoutIcon.erase(program);
    }
    for (Pending* pending : group) {
        const RecordBatch& batch = *pending->batch;
        std::int64_t& last = lastByRecorder.at(batch.recorderId);
        const std::int64_t before = recordWriter.RecordCount();
        std::set<std::int64_t> programs;
        for (std::size_t i = 0; i < batch.records.size(); ++i) {
            const ActivityRecord& record = batch.records[i];
            if (static_cast<std::int64_t>(batch.firstSequence + i) <= last) {
                programs.insert(entities.ProgramId(record.process, {}));
                continue;
            }
            programs.insert(recordWriter.Add(record).program);
        }
        for (const std::int64_t program : programs) {
            if (writer.programsWithIcon.contains(program)) continue;
            auto known = writer.programsWithoutIcon.find(program);
            if (known == writer.programsWithoutIcon.end()) {
                if (HasIcon(db, program)) {
                    writer.programsWithIcon.insert(program);
                    continue;
                }
                known = writer.programsWithoutIcon.emplace(program, ProcessName(db, program)).first;
            }
            pending->receipt.programsWithoutIcon.push_back(known->second);
        }
        if (!batch.records.empty()) {
            last = std::max(last, static_cast<std::int64_t>(batch.firstSequence + batch.records.size() - 1));
        }
        pending->receipt.committedSequence = static_cast<std::uint64_t>(last);
        pending->receipt.stored = recordWriter.RecordCount() - before;
    }
    recordWriter.Finish();
    for (const auto& [recorderId, last] : lastByRecorder) SetLastSequence(db, recorderId, last);
    transaction.Commit();
}

}  // namespace qv::server
