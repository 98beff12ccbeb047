// libFuzzer target of sway's IPC tree as the Wayland adapter reads it: any
// text gives the views or an error, never a crash.
#include "qvrecorder/session/wayland/sway_ipc.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto views = qv::recorder::ParseSwayTree(text, error);
    if (views.has_value() == !error.empty()) std::abort();
    if (views) {
        for (const qv::recorder::SwayView& view : *views) {
            if (view.pid <= 0) std::abort();
        }
    }
    return 0;
}
