#include "qvrecorder/session/desktop_adapter.h"
#include "qvrecorder/session/wayland/wayland_adapter.h"
#include "qvrecorder/session/x11/x11_adapter.h"
#include "records/log.h"

#include <cstdlib>

namespace qv::recorder {

// Wayland first: in a Wayland session an X11 adapter would see only the
// windows of Xwayland's clients.
std::unique_ptr<DesktopAdapter> OpenDesktopAdapter(std::chrono::milliseconds idleLimit) {
    std::string whyNot;
    if (auto adapter = OpenWaylandAdapter(idleLimit, whyNot)) {
        LogLine("desktop: " + adapter->Name());
        return adapter;
    }
    LogLine("desktop: not Wayland: " + whyNot);
    if (auto adapter = OpenX11Adapter(whyNot)) {
        LogLine(std::string("desktop: X11 on the display ") + std::getenv("DISPLAY"));
        return adapter;
    }
    LogLine("desktop: not X11: " + whyNot);
    return nullptr;
}

}  // namespace qv::recorder
