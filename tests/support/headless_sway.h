// A headless sway of a test's own, without input devices, drawn in software, in a private runtime folder. sway
// refuses root: under root, sway and all run in its session run as nobody.
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

    // Throws std::runtime_error, with sway's log, when sway does not come up.
    HeadlessSway();
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway&) = delete;
    HeadlessSway& operator=(const HeadlessSway&) = delete;

    // The command as a client of this sway, as its user, run from "/".
    std::vector<std::string> InSession(const std::vector<std::string>& command) const;
    // A copy of the program that sway's user may run (the build tree may be closed to it).
    std::string Install(const std::string& program) const;
    // For a client in this process (as root, it may reach sway's sockets).
    std::string Display() const { return dir_.File(display_); }
    const std::string& IpcSocket() const { return ipcSocket_; }
    // A file in the runtime folder that sway's user may read and write.
    std::string File(const std::string& name) const { return dir_.File(name); }
    ToolResult Message(const std::vector<std::string>& arguments) const;  // swaymsg
    BackgroundProcess& Process() { return *sway_; }

private:
    // Variable assignments may lead the command.
    std::vector<std::string> AsUser(const std::vector<std::string>& command) const;

    TempDir dir_;
    uid_t uid_ = 0;  // sway's user, when not this one
    gid_t gid_ = 0;
    std::string display_, ipcSocket_;
    std::unique_ptr<BackgroundProcess> sway_;
};

}  // namespace qv::test
