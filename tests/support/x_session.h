// A throw-away X display: Xvfb (no TCP) with openbox managing its windows; DISPLAY names it while it lives.
#pragma once

#include "tests/support/background_process.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

class XSession {
public:
    // The first of Xvfb, openbox, xdotool that is not installed; nullopt when all are.
    static std::optional<std::string> MissingProgram();

    // Throws std::runtime_error when the display or the window manager does not start.
    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    const std::string& Display() const { return display_; }
    // xdotool with the arguments; throws when it fails.
    std::string Xdotool(const std::vector<std::string>& args) const;
    // The id of the window with this exact title, once it is mapped; throws after a while.
    std::string WaitForWindow(const std::string& title) const;

private:
    std::string display_;
    std::optional<std::string> previousDisplay_;
    std::unique_ptr<BackgroundProcess> server_;
    std::unique_ptr<BackgroundProcess> windowManager_;
};

}  // namespace qv::test
