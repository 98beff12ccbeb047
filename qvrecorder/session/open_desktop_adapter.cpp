#include "qvrecorder/session/desktop_adapter.h"
#include "qvrecorder/session/x11/x11_adapter.h"
#include "records/log.h"

#include <cstdlib>

// The Wayland adapter comes from its own branch; once merged, it is tried first.
#if __has_include("qvrecorder/session/wayland/wayland_adapter.h")
#include "qvrecorder/session/wayland/wayland_adapter.h"
#define QV_HAS_WAYLAND_ADAPTER 1
#endif

namespace qv::recorder {

std::unique_ptr<DesktopAdapter> OpenDesktopAdapter([[maybe_unused]] std::chrono::milliseconds idleLimit) {
    std::string whyNot;
#ifdef QV_HAS_WAYLAND_ADAPTER
    if (auto adapter = OpenWaylandAdapter(idleLimit, whyNot)) {
        LogLine("desktop: " + adapter->Name());
        return adapter;
    }
    LogLine("desktop: not Wayland: " + whyNot);
#endif
    if (auto adapter = OpenX11Adapter(whyNot)) {
        LogLine(std::string("desktop: X11 on the display ") + std::getenv("DISPLAY"));
        return adapter;
    }
    LogLine("desktop: not X11: " + whyNot);
    return nullptr;
}

}  // namespace qv::recorder
