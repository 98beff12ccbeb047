#include "qvrecorder/session/desktop_adapter.h"
#include "qvrecorder/session/x11/x11_adapter.h"
#include "records/log.h"

#include <cstdlib>

namespace qv::recorder {

std::unique_ptr<DesktopAdapter> OpenDesktopAdapter(std::chrono::milliseconds) {
    std::string whyNot;
    if (auto adapter = OpenX11Adapter(whyNot)) {
        LogLine(std::string("desktop: X11 on the display ") + std::getenv("DISPLAY"));
        return adapter;
    }
    LogLine("desktop: not X11: " + whyNot);
    return nullptr;
}

}  // namespace qv::recorder
