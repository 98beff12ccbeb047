#include "qvservice/model/record_writer.h"

#include "qvservice/model/store_schema.h"

namespace qv::server {

namespace {

// Starts between the years 100 and 9999, the range of OLE dates.
constexpr std::int64_t kMinStartMs = -59011459200000LL;
constexpr std::int64_t kMaxStartMs = 253402300799000LL;

void CheckText(const std::string& value, const char* name, bool required) {
    if (required && value.empty()) throw InvalidRecord(std::string(name) + " is empty");
    if (value.size() > kMaxTextBytes) {
        throw InvalidRecord(std::string(name) + " is longer than " + std::to_string(kMaxTextBytes) + " bytes");
    }
}

void CheckCount(std::int64_t value, const char* name) {
    if (value < 0) throw InvalidRecord(std::string(name) + " is negative");
    if (value > kMaxEventCount) throw InvalidRecord(std::string(name) + " is above " + std::to_string(kMaxEventCount));
}

}  // namespace

void ValidateRecord(const ActivityRecord& record) {
    CheckText(record.user, "user", true);
    CheckText(record.computer, "computer", true);
    CheckText(record.process, "process", true);
    CheckText(record.description, "description", false);
    CheckText(record.windowTitle, "window_title", false);
    if (record.startMs < kMinStartMs || record.startMs > kMaxStartMs) {
        throw InvalidRecord("start is outside the years 100 to 9999");
    }
    if (record.durationMs < 0 || record.durationMs > kMaxDurationMs) {
        throw InvalidRecord("duration_ms must lie between 0 and " + std::to_string(kMaxDurationMs));
    }
    CheckCount(record.keyboardEvents, "keyboard_events");
    CheckCount(record.mouseEvents, "mouse_events");
}

RecordWriter::RecordWriter(Database& db)
    : db_(db),
      entities_(db),
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
