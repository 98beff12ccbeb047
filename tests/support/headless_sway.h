// A sway of its own for a test: headless, no input devices, software
// rendering, in a private runtime folder. sway refuses root, so when the
// test runs as root, sway and everything run in its session (Wayland
// clients, the program under test) run as nobody.
#pragma once

#include "tests/support/background_process.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace qv::test {

class HeadlessSway {
public:
    // What is missing for these tests (sway, swaymsg, foot); empty when nothing is.
    static std::string Missing();

    // Starts sway and waits for its Wayland and IPC sockets; throws
    // std::runtime_error, with sway's log, when it does not come up.
    HeadlessSway();
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // The command as a client of this sway: its user, WAYLAND_DISPLAY,
    // SWAYSOCK and XDG_RUNTIME_DIR set, run from "/".
    std::vector<std::string> InSession(const std::vector<std::string>& command) const;
    // A copy of the program in the runtime folder, which sway's user may run
    // (the build tree may be closed to it).
    std::string Install(const std::string& program) const;
    // A file in the runtime folder that sway's user may read and write.
    std::string File(const std::string& name) const { return dir_.File(name); }
    // swaymsg with these arguments, to its end.
    ToolResult Message(const std::vector<std::string>& arguments) const;
    // sway's process, for its log or to end it.
    BackgroundProcess& Process() { return *sway_; }

private:
    // The command as sway's user, in the runtime folder's environment and no
    // display's; variable assignments may lead the command.
    std::vector<std::string> AsUser(const std::vector<std::string>& command) const;

    TempDir dir_;
    bool switchUser_ = false;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::string display_;
    std::string ipcSocket_;
    std::unique_ptr<BackgroundProcess> sway_;
};

}  // namespace qv::test
