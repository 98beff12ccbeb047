// sway's IPC (the i3-ipc binary protocol on $SWAYSOCK), for the one thing
// Wayland does not tell a client: which process shows a window.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::recorder {

// A window (a "view") in sway's tree.
struct SwayView {
    pid_t pid = 0;
    std::string appId;  // the Wayland app id, or the X11 class of an Xwayland window
    std::string title;
    bool focused = false;
};

// Replies larger than this are refused: a real tree is a few hundred KiB.
constexpr std::uint32_t kMaxSwayReply = 16u << 20;

// The views of sway's tree (GET_TREE); nullopt with error set when the
// socket cannot be reached, does not answer within limit, or answers
// something malformed.
std::optional<std::vector<SwayView>> SwayViews(const std::string& socketPath, std::string& error,
                                               std::chrono::milliseconds limit = std::chrono::seconds(2));

// The views of a GET_TREE reply's JSON text.
std::optional<std::vector<SwayView>> ParseSwayTree(std::string_view json, std::string& error);

// The process's name: the file name of /proc/PID/exe, else its comm; empty
// when neither can be read (the process ended, or is another user's).
std::string ProcessName(pid_t pid);

}  // namespace qv::recorder
