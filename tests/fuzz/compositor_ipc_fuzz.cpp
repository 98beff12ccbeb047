// libFuzzer target of the compositors' IPC answers as the Wayland adapter reads them (sway's tree, Hyprland's client
// list): any text gives the windows or an error, never a crash.
#include "qvrecorder/session/wayland/compositor_ipc.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto parse : {qv::recorder::ParseSwayTree, qv::recorder::ParseHyprlandClients}) {
        std::string error;
        const auto views = parse(text, error);
        if (views.has_value() == !error.empty()) std::abort();
        if (views && std::ranges::any_of(*views, [](const auto& view) { return view.pid <= 0; })) std::abort();
    }
    return 0;
}
