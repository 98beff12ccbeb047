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

namespace qv::server {

namespace {

std::span<const unsigned char> Bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

std::int64_t LastSequence(Database& db, const std::string& recorderId) {
    Statement read(db, "SELECT last_sequence FROM recorders WHERE recorder_id = ?1");
    read.BindBlob(1, Bytes(recorderId));
    return read.Step() ? read.Int64(0) : 0;
}

void SetLastSequence(Database& db, const std::string& recorderId, std::int64_t sequence) {
    Statement upsert(db,
                     "INSERT INTO recorders(recorder_id, last_sequence) VALUES(?1, ?2) "
                     "ON CONFLICT(recorder_id) DO UPDATE SET last_sequence = excluded.last_sequence");
    upsert.BindBlob(1, Bytes(recorderId));
    upsert.Bind(2, sequence);
    upsert.Step();
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
        if (writing_) {
            written_.wait(lock);
            continue;
        }
        // Whoever finds nobody writing writes everything queued, its own batch included.
        writing_ = true;
        std::vector<Pending*> group;
        group.swap(queue_);
        lock.unlock();
        WriteGroup(group);
        lock.lock();
        writing_ = false;
        written_.notify_all();
    }
    if (mine.error) std::rethrow_exception(mine.error);
    return mine.receipt;
}

void BatchIngest::WriteGroup(const std::vector<Pending*>& group) {
    try {
        if (db_ && db_->Broken()) db_.reset();
        if (!db_) db_ = OpenStore(store_, Database::Mode::ReadWrite);
        WriteAll(*db_, group);
    } catch (...) {
        // Ids of the rolled-back transaction name nothing.
        names_.Clear();
        programsWithIcon_.clear();
        programsWithoutIcon_.clear();
        const auto error = std::current_exception();
        for (Pending* pending : group) pending->error = error;
    }
    for (Pending* pending : group) pending->done = true;
}

void BatchIngest::WriteAll(Database& db, const std::vector<Pending*>& group) {
    Transaction transaction(db, Transaction::Kind::Write);
    PrepareSchema(db);
    // Read under the writers' lock, so that a prune that removed names
    // before this transaction is seen, and none removes them during it.
    if (const std::int64_t generation = ReadCounter(db, kNamesGeneration); generation != namesGeneration_) {
        names_.Clear();
        programsWithIcon_.clear();
        programsWithoutIcon_.clear();
        namesGeneration_ = generation;
    }
    RecordWriter writer(db, &names_);
    EntityDirectory& entities = writer.Entities();
    std::map<std::string, std::int64_t> lastByRecorder;
    for (Pending* pending : group) {
        const RecordBatch& batch = *pending->batch;
        auto [last, unread] = lastByRecorder.try_emplace(batch.recorderId, 0);
        if (unread) last->second = LastSequence(db, batch.recorderId);
        entities.Prefetch(batch.records);
        const std::int64_t before = writer.RecordCount();
        std::set<std::int64_t> programs;
        for (std::size_t i = 0; i < batch.records.size(); ++i) {
            const ActivityRecord& record = batch.records[i];
            if (static_cast<std::int64_t>(batch.firstSequence + i) <= last->second) {
                programs.insert(entities.ProgramId(record.process, {}));
                continue;
            }
            programs.insert(writer.Add(record).program);
        }
        for (const ProgramIcon& icon : batch.icons) {
            const std::int64_t program = entities.ProgramId(icon.process, {});
            if (!programsWithIcon_.contains(program) && !HasIcon(db, program)) entities.SetIcon(program, icon.icon);
            programsWithIcon_.insert(program);
            programsWithoutIcon_.erase(program);
        }
        for (const std::int64_t program : programs) {
            if (programsWithIcon_.contains(program)) continue;
            auto known = programsWithoutIcon_.find(program);
            if (known == programsWithoutIcon_.end()) {
                if (HasIcon(db, program)) {
                    programsWithIcon_.insert(program);
                    continue;
                }
                known = programsWithoutIcon_.emplace(program, ProcessName(db, program)).first;
            }
            pending->receipt.programsWithoutIcon.push_back(known->second);
        }
        if (!batch.records.empty()) {
            last->second =
                std::max(last->second, static_cast<std::int64_t>(batch.firstSequence + batch.records.size() - 1));
        }
        pending->receipt.committedSequence = static_cast<std::uint64_t>(last->second);
        pending->receipt.stored = writer.RecordCount() - before;
    }
    writer.Finish();
    for (const auto& [recorderId, last] : lastByRecorder) SetLastSequence(db, recorderId, last);
    transaction.Commit();
}

}  // namespace qv::server
