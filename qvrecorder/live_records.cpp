#include "qvrecorder/live_records.h"

namespace qv::recorder {

void ToLive(const ActivityRecord& record, quorvis::v1::LiveRecord& live) {
    live.set_user(record.user);
    live.set_computer(record.computer);
    live.set_process(record.process);
    live.set_description(record.description);
    live.set_window_title(record.windowTitle);
    live.set_start_ms(record.startMs);
    live.set_duration_ms(record.durationMs);
    live.set_keyboard_events(record.keyboardEvents);
    live.set_mouse_events(record.mouseEvents);
}

ActivityRecord FromLive(const quorvis::v1::LiveRecord& live) {
    return {live.user(),     live.computer(),    live.process(),         live.description(), live.window_title(),
            live.start_ms(), live.duration_ms(), live.keyboard_events(), live.mouse_events()};
}

ActivityRecord FromLive(quorvis::v1::LiveRecord&& live) {
    return {std::move(*live.mutable_user()),
            std::move(*live.mutable_computer()),
            std::move(*live.mutable_process()),
            std::move(*live.mutable_description()),
            std::move(*live.mutable_window_title()),
            live.start_ms(),
            live.duration_ms(),
            live.keyboard_events(),
            live.mouse_events()};
}

}  // namespace qv::recorder
