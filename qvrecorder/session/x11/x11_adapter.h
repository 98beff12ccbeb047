// The X11 desktop: the front window from _NET_ACTIVE_WINDOW, followed by
// PropertyNotify; input counted from XInput2 raw events of the master
// devices; idle time from MIT-SCREEN-SAVER.
#pragma once

#include "qvrecorder/session/desktop_adapter.h"

#include <memory>
#include <string>

namespace qv::recorder {

// nullptr, with the reason in whyNot, when DISPLAY is unset or the display
// does not answer.
std::unique_ptr<DesktopAdapter> OpenX11Adapter(std::string& whyNot);

}  // namespace qv::recorder
