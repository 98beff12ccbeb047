#include "qvservice/model/record_writer.h"

#include "qvservice/model/store_schema.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qv::server {

namespace {

constexpr const char* kNamedTables[] = {"users", "computers", "programs", "window_titles"};
constexpr std::size_t kIdsPerStatement = 500;

void CheckIdsExist(Database& db, const char* table, const std::unordered_set<std::int64_t>& ids) {
    const std::vector<std::int64_t> all(ids.begin(), ids.end());
    for (std::size_t from = 0; from < all.size(); from += kIdsPerStatement) {
        const std::size_t count = std::min(kIdsPerStatement, all.size() - from);
        std::string list;
        for (std::size_t i = 0; i < count; ++i) list += (i ? ", ?" : "?");
        Statement found(db, std::string("SELECT count(*) FROM (SELECT id FROM ") + table + " WHERE id IN (" + list +
                                ")" + db.Types().keyShareLock + ") AS named");
        for (std::size_t i = 0; i < count; ++i) found.Bind(static_cast<int>(i + 1), all[from + i]);
        if (!found.Step() || found.Int64(0) != static_cast<std::int64_t>(count)) {
            throw StoreError(db.Name() + ": a record names an id that " + table + " does not hold");
        }
    }
}

}  // namespace

RecordWriter::RecordWriter(Database& db, NameCache* names)
    : db_(db),
      entities_(db, names),
      rollups_(db),
      activity_(db.LoadByStart("activity", {"user_id", "computer_id", "program_id", "window_id", "start_ms",
                                            "duration_ms", "keyboard_events", "mouse_events"})) {}

RecordIds RecordWriter::Add(const ActivityRecord& record) {
    ValidateRecord(record);
    RecordIds ids;
    ids.user = entities_.UserId(record.user);
    ids.computer = entities_.ComputerId(record.computer);
    ids.program = entities_.ProgramId(record.process, record.description);
    ids.window = entities_.WindowId(ids.program, record.windowTitle);
    AddResolved(ids, record.startMs, record.durationMs, record.keyboardEvents, record.mouseEvents);
    return ids;
}

void RecordWriter::AddResolved(const RecordIds& ids, std::int64_t startMs, std::int64_t durationMs,
                               std::int64_t keyboardEvents, std::int64_t mouseEvents) {
    const SqlValue row[] = {ids.user, ids.computer, ids.program,    ids.window,
                            startMs,  durationMs,   keyboardEvents, mouseEvents};
    activity_->Add(row);
    named_[0].insert(ids.user);
    named_[1].insert(ids.computer);
    named_[2].insert(ids.program);
    named_[3].insert(ids.window);
    rollups_.Add(ids, startMs, durationMs, static_cast<double>(keyboardEvents), static_cast<double>(mouseEvents));
    extent_.maxDurationMs = std::max(extent_.maxDurationMs, durationMs);
    extent_.latestEndMs = std::max(extent_.latestEndMs, startMs + std::max(durationMs, std::int64_t{1}));
    ++records_;
}

void RecordWriter::Finish() {
    for (std::size_t i = 0; i < named_.size(); ++i) {
        CheckIdsExist(db_, kNamedTables[i], named_[i]);
        named_[i].clear();
    }
    activity_->Finish();
    rollups_.Flush();
    RaiseRecordExtent(db_, extent_);
}

}  // namespace qv::server
