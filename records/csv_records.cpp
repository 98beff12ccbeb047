#include "records/csv_records.h"

#include "records/log.h"
#include "records/timestamp.h"

#include <charconv>

namespace qv {

namespace {

constexpr const char* kGiveOffset = "give it with its UTC offset, as YYYY-MM-DDTHH:MM:SS+HH:MM, or in UTC with Z";

std::int64_t ParseCount(const std::string& text, const char* name) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        throw InvalidRecord(std::string(name) + " is out of range: '" + Printable(text) + "'");
    }
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        throw InvalidRecord(std::string(name) + " is not a whole number: '" + Printable(text) + "'");
    }
    return value;
}

std::int64_t ParseStart(const std::string& text) {
    const Timestamp start = ParseTimestamp(text);
    switch (start.fault) {
        case TimestampFault::None: return start.ms;
        case TimestampFault::Malformed: break;
        case TimestampFault::SkippedLocalTime:
            throw InvalidRecord("start '" + Printable(text) + "' does not exist in local time (the clocks skip it); " +
                                kGiveOffset);
        case TimestampFault::RepeatedLocalTime:
            throw InvalidRecord("start '" + Printable(text) +
                                "' occurs twice in local time (the clocks go back over it); " + kGiveOffset);
    }
    throw InvalidRecord("start is not a time of the form YYYY-MM-DDTHH:MM:SS[Z|+HH:MM]: '" + Printable(text) + "'");
}

}  // namespace

ActivityRecord ToRecord(std::vector<std::string>& fields) {
    if (fields.size() != kCsvFields.size()) {
        throw InvalidRecord("expected " + std::to_string(kCsvFields.size()) + " fields, found " +
                            std::to_string(fields.size()));
    }
    ActivityRecord record;
    record.user = std::move(fields[0]);
    record.computer = std::move(fields[1]);
    record.process = std::move(fields[2]);
    record.description = std::move(fields[3]);
    record.windowTitle = std::move(fields[4]);
    record.startMs = ParseStart(fields[5]);
    record.durationMs = ParseCount(fields[6], "duration_ms");
    record.keyboardEvents = ParseCount(fields[7], "keyboard_events");
    record.mouseEvents = ParseCount(fields[8], "mouse_events");
    return record;
}

}  // namespace qv
