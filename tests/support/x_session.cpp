#include "tests/support/x_session.h"

#include <csignal>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <thread>

namespace qv::test {
namespace {

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
    for (const std::string program : {"Xvfb", "openbox", "xdotool", "xprop"}) {
        if (RunProgram({"sh", "-c", "command -v " + program}).exitCode != 0) return program;
    }
    return std::nullopt;
}

XSession::XSession() {
    if (const char* display = std::getenv("DISPLAY")) previousDisplay_ = display;
    // Xvfb takes a free display number and writes it once it answers. Without -noreset it starts afresh whenever
    // its last client leaves, and refuses connections meanwhile.
    server_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
        "Xvfb", "-displayfd", "2", "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x1024x24"});
    WaitFor(
        [&] {
            const bool ended = server_->WaitForExit(std::chrono::milliseconds(50)) != -1;  // reads its log
            if (std::smatch found; std::regex_search(server_->Log(), found, std::regex("(^|\n)([0-9]+)\n")))
                display_ = ":" + found[2].str();
            return ended || !display_.empty();
        },
        std::chrono::seconds(15));
    if (display_.empty()) throw std::runtime_error("Xvfb did not start: " + server_->Log());
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
    previousDisplay_ ? ::setenv("DISPLAY", previousDisplay_->c_str(), 1) : ::unsetenv("DISPLAY");
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
