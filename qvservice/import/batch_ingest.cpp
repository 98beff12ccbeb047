#include "qvservice/import/batch_ingest.h"

#include "qvservice/model/icon_file.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "records/log.h"

#include <limits>
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
    Statement update(db, "UPDATE recorders SET last_sequence = ?2 WHERE recorder_id = ?1");
    update.BindBlob(1, Bytes(recorderId));
    update.Bind(2, sequence);
    update.Step();
    Statement insert(db,
                     "INSERT INTO recorders(recorder_id, last_sequence) SELECT ?1, ?2 WHERE NOT EXISTS "
                     "(SELECT 1 FROM recorders WHERE recorder_id = ?1)");
    insert.BindBlob(1, Bytes(recorderId));
    insert.Bind(2, sequence);
    insert.Step();
}

bool HasIcon(Database& db, const std::string& process) {
    Statement read(db, "SELECT icon IS NOT NULL FROM programs WHERE process_name = ?1");
    read.BindText(1, process);
    return read.Step() && read.Int64(0) != 0;
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
    std::lock_guard lock(mutex_);
    if (db_ && db_->Broken()) db_.reset();
    if (!db_) db_ = OpenStore(store_, Database::Mode::ReadWrite);
    Database& db = *db_;
    Transaction transaction(db, Transaction::Kind::Write);
    PrepareSchema(db);

    BatchReceipt receipt;
    const std::int64_t last = LastSequence(db, batch.recorderId);
    std::set<std::string> processes;
    RecordWriter writer(db);
    for (std::size_t i = 0; i < batch.records.size(); ++i) {
        processes.insert(batch.records[i].process);
        if (static_cast<std::int64_t>(batch.firstSequence + i) <= last) continue;
        writer.Add(batch.records[i]);
    }
    for (const ProgramIcon& icon : batch.icons) {
        if (!HasIcon(db, icon.process))
            writer.Entities().SetIcon(writer.Entities().ProgramId(icon.process, {}), icon.icon);
    }
    writer.Finish();
    receipt.stored = writer.RecordCount();
    receipt.committedSequence = static_cast<std::uint64_t>(last);
    if (!batch.records.empty()) {
        const auto batchLast = static_cast<std::int64_t>(batch.firstSequence + batch.records.size() - 1);
        if (batchLast > last) {
            SetLastSequence(db, batch.recorderId, batchLast);
            receipt.committedSequence = static_cast<std::uint64_t>(batchLast);
        }
    }
    for (const std::string& process : processes) {
        if (!HasIcon(db, process)) receipt.programsWithoutIcon.push_back(process);
    }
    transaction.Commit();
    return receipt;
}

}  // namespace qv::server
