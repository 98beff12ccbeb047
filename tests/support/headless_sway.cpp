#include "tests/support/headless_sway.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace qv::test {

namespace fs = std::filesystem;

std::string HeadlessSway::Missing() {
    std::string missing;
    for (const std::string program : {"sway", "swaymsg", "foot", "setpriv"}) {
        if (RunProgram({"sh", "-c", "command -v " + program}).exitCode != 0) missing += " " + program;
    }
    return missing.empty() ? "" : "not installed:" + missing + " (Debian packages sway, foot, util-linux)";
}

HeadlessSway::HeadlessSway() {
    if (geteuid() == 0) {
        const passwd* account = getpwnam("nobody");
        if (account == nullptr) throw std::runtime_error("running as root, and there is no user nobody to run sway");
        uid_ = account->pw_uid;
        gid_ = account->pw_gid;
        // The runtime folder must be the session user's own, mode 0700.
        if (chown(dir_.Path().c_str(), uid_, gid_) != 0)
            throw std::runtime_error("cannot hand " + dir_.Path() + " over to sway's user: " + std::strerror(errno));
    }
    WriteFile(dir_.File("config"), "xwayland disable\nfocus_follows_mouse no\n");  // nothing but windows
    sway_ = std::make_unique<BackgroundProcess>(
        AsUser({"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                "WLR_RENDERER_ALLOW_SOFTWARE=1", "sway", "-c", dir_.File("config")}));

    // The sockets come first; sway answers once its configuration is read.
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);;) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(dir_.Path(), error)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("wayland-") && !name.ends_with(".lock")) display_ = name;
            if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) ipcSocket_ = entry.path().string();
        }
        if (!display_.empty() && !ipcSocket_.empty() && Message({"-t", "get_version"}).exitCode == 0) return;
        if (sway_->WaitForExit(std::chrono::milliseconds(50)) != -1 || std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("sway did not start; its log:\n" + sway_->Log());
        }
    }
}

HeadlessSway::~HeadlessSway() {
    // Its clients end with it; the runtime folder goes after them.
    sway_->Stop(SIGTERM, std::chrono::seconds(10));
    sway_.reset();
}

std::vector<std::string> HeadlessSway::AsUser(const std::vector<std::string>& command) const {
    std::vector<std::string> full;
    if (uid_ != 0) {
        full = {"setpriv", "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_), "--clear-groups",
                "--"};
    }
    full.insert(full.end(), {"env", "--chdir=/", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "SWAYSOCK",
                             "HOME=" + dir_.Path(), "XDG_RUNTIME_DIR=" + dir_.Path()});
    full.insert(full.end(), command.begin(), command.end());
    return full;
}

std::vector<std::string> HeadlessSway::InSession(const std::vector<std::string>& command) const {
    std::vector<std::string> full{"WAYLAND_DISPLAY=" + display_, "SWAYSOCK=" + ipcSocket_};
    full.insert(full.end(), command.begin(), command.end());
    return AsUser(full);
}

std::string HeadlessSway::Install(const std::string& program) const {
    const std::string copy = dir_.File(fs::path(program).filename().string());
    // Once: a second copy over a running one would fail.
    if (fs::exists(copy)) return copy;
    fs::copy_file(program, copy);
    fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return copy;
}

ToolResult HeadlessSway::Message(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"swaymsg"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(InSession(command), true);
}

}  // namespace qv::test
