#include "tests/support/x_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace qv::test {

namespace {

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (::access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

template <typename Ready>
bool WaitFor(Ready ready, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace

std::optional<std::string> XSession::MissingProgram() {
    for (const char* program : {"Xvfb", "openbox", "xdotool", "xprop"}) {
        if (!OnPath(program)) return program;
    }
    return std::nullopt;
}

XSession::XSession() {
    if (const char* display = std::getenv("DISPLAY")) previousDisplay_ = display;
    // A number whose lock file and socket are free; another Xvfb may take it first, so a few are tried. Without
    // -noreset the server starts afresh whenever its last client leaves, as the probe below does, and refuses
    // connections meanwhile.
    for (int number = 90 + static_cast<int>(::getpid() % 100); !server_ && number < 400; ++number) {
        const std::string name = ":" + std::to_string(number);
        if (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock") ||
            std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)))
            continue;
        auto server = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{"Xvfb", name, "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x1024x24"});
        const bool answers = WaitFor(
            [&] {
                return server->WaitForExit(std::chrono::milliseconds(0)) != -1 ||
                       RunProgram({"xprop", "-display", name, "-root", "_NET_SUPPORTING_WM_CHECK"}).exitCode == 0;
            },
            std::chrono::seconds(15));
        if (answers && server->WaitForExit(std::chrono::milliseconds(0)) == -1) {
            server_ = std::move(server);
            display_ = name;
        }
    }
    if (!server_) throw std::runtime_error("no Xvfb display could be started");
    ::setenv("DISPLAY", display_.c_str(), 1);
    // Openbox sets the work area at the end of its start; a window mapped before may never be managed.
    windowManager_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{"openbox", "--sm-disable"});
    const bool managed = WaitFor(
        [this] {
            return windowManager_->WaitForExit(std::chrono::milliseconds(0)) != -1 ||
                   RunProgram({"xprop", "-root", "_NET_WORKAREA"}).out.find(" = ") != std::string::npos;
        },
        std::chrono::seconds(15));
    // Openbox logs to ~/.cache/openbox/openbox.log, not to its standard error.
    if (!managed || windowManager_->WaitForExit(std::chrono::milliseconds(0)) != -1)
        throw std::runtime_error("openbox did not start (see ~/.cache/openbox/openbox.log)");
}

XSession::~XSession() {
    windowManager_.reset();
    // Asked, Xvfb removes its lock file and socket.
    server_->Stop(SIGTERM, std::chrono::seconds(5));
    server_.reset();
    if (previousDisplay_)
        ::setenv("DISPLAY", previousDisplay_->c_str(), 1);
    else
        ::unsetenv("DISPLAY");
}

std::string XSession::Xdotool(const std::vector<std::string>& args) const {
    std::vector<std::string> command{"xdotool"};
    command.insert(command.end(), args.begin(), args.end());
    const ToolResult result = RunProgram(command);
    if (result.exitCode != 0) throw std::runtime_error("xdotool failed: " + result.err);
    return result.out;
}

std::string XSession::WaitForWindow(const std::string& title) const {
    std::string id;
    WaitFor(
        [&] {
            const ToolResult found = RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"});
            id = found.out.substr(0, found.out.find('\n'));
            return found.exitCode == 0 && !id.empty();
        },
        std::chrono::seconds(15));
    if (id.empty()) {
        throw std::runtime_error("no window is titled " + title + " on " + display_ + " (" +
                                 RunProgram({"xprop", "-root", "_NET_CLIENT_LIST"}).out + ")");
    }
    return id;
}

}  // namespace qv::test
