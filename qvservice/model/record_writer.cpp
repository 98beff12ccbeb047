#include "qvservice/model/record_writer.h"

#include "qvservice/model/store_schema.h"

namespace qv::server {

RecordWriter::RecordWriter(Database& db, NameCache* names)
    : db_(db),
      entities_(db, names),
      rollups_(db),
      activity_(db.Load("activity", {"user_id", "computer_id", "program_id", "window_id", "start_ms", "duration_ms",
                                     "keyboard_events", "mouse_events"})) {}

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
    rollups_.Add(ids, startMs, durationMs, static_cast<double>(keyboardEvents), static_cast<double>(mouseEvents));
    maxDuration_ = std::max(maxDuration_, durationMs);
    ++records_;
}

void RecordWriter::Finish() {
    activity_->Finish();
    rollups_.Flush();
    RaiseMaxDuration(db_, maxDuration_);
}

}  // namespace qv::server
