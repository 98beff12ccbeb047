// The desktop adapter for wlroots compositors (sway, Hyprland...): the front
// window from zwlr_foreign_toplevel_manager_v1, its process from the
// compositor's own IPC where it has one (sway's, Hyprland's), and idleness
// from ext_idle_notifier_v1 or org_kde_kwin_idle. Input is never counted:
// Wayland lets no client see it.
#pragma once

#include "qvrecorder/session/desktop_adapter.h"

#include <chrono>
#include <memory>
#include <string>

namespace qv::recorder {

// nullptr, with whyNot saying why, when this is not a Wayland session whose
// compositor offers the foreign-toplevel protocol.
std::unique_ptr<DesktopAdapter> OpenWaylandAdapter(std::chrono::milliseconds idleLimit, std::string& whyNot);

}  // namespace qv::recorder
