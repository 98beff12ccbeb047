// The import format: one activity record a line of CSV under a fixed
// header, as qvservice import and qvrecorder send read it.
#pragma once

#include "records/activity_record.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr const char* kCsvHeader =
    "user,computer,process,description,window_title,start,duration_ms,keyboard_events,mouse_events";
// The header's fields, compared one by one: a quoted "user,computer" is one field, not two.
inline constexpr std::array<std::string_view, 9> kCsvFields{"user",        "computer",        "process",
                                                            "description", "window_title",    "start",
                                                            "duration_ms", "keyboard_events", "mouse_events"};

// A line's fields as a record; throws InvalidRecord. Checks the fields'
// form only: ValidateRecord checks the bounds.
ActivityRecord ToRecord(std::vector<std::string>& fields);

}  // namespace qv
