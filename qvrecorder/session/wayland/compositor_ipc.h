// The compositors' own IPC, for the one thing Wayland does not tell a client:
// which process shows a window. sway speaks the i3-ipc binary protocol on
// $SWAYSOCK; Hyprland answers "j/clients" on its instance's socket.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::recorder {

// A window as the compositor's IPC describes it.
struct WindowView {
    pid_t pid = 0;
    std::string appId;  // the Wayland app id, or the X11 class of an Xwayland window
    std::string title;
    bool focused = false;
};

// Answers larger than this are refused: a real one is a few hundred KiB.
constexpr std::uint32_t kMaxIpcReply = 16u << 20;

// The windows of sway's tree (GET_TREE) or of Hyprland's client list;
// nullopt with error set when the socket cannot be reached, does not answer
// within limit, or answers something malformed.
std::optional<std::vector<WindowView>> SwayViews(const std::string& socketPath, std::string& error,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(2));
std::optional<std::vector<WindowView>> HyprlandViews(const std::string& socketPath, std::string& error,
                                                     std::chrono::milliseconds limit = std::chrono::seconds(2));

// The same from the answers' JSON text.
std::optional<std::vector<WindowView>> ParseSwayTree(std::string_view json, std::string& error);
std::optional<std::vector<WindowView>> ParseHyprlandClients(std::string_view json, std::string& error);

// Hyprland's socket for this session (from HYPRLAND_INSTANCE_SIGNATURE and
// XDG_RUNTIME_DIR, or /tmp/hypr of older versions); empty when not Hyprland.
std::string HyprlandSocket();

}  // namespace qv::recorder
