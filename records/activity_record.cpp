#include "records/activity_record.h"

namespace qv {

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

}  // namespace qv
