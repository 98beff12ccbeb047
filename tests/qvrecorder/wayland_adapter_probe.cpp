// The Wayland adapter in a process of its own, for the tests: it opens the
// adapter in the session it runs in and prints one line for each thing the
// adapter reports, until the display is gone.
//   wayland_adapter_probe IDLE_LIMIT_MS
#include "qvrecorder/session/wayland/wayland_adapter.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using qv::recorder::SteadyTime;

class Printer : public qv::recorder::DesktopEvents {
public:
    void FrontChanged(const std::optional<qv::recorder::FrontWindow>& window, SteadyTime) override {
        if (window) {
            std::printf("front app=%s title=%s process=%s pid=%s\n", window->windowClass.c_str(), window->title.c_str(),
                        window->processName.c_str(), window->pid > 0 ? "yes" : "no");
        } else {
            std::printf("front none\n");
        }
    }
    void Input(qv::recorder::InputKind, SteadyTime) override { std::printf("input\n"); }
    void Away(SteadyTime lastInput) override {
        const auto idle = std::chrono::steady_clock::now() - lastInput;
        std::printf("away %lldms\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(idle).count()));
    }
    void Back(SteadyTime) override { std::printf("back\n"); }
    void DisplayGone() override {
        std::printf("gone\n");
        gone = true;
    }
    bool gone = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::chrono::milliseconds idleLimit(argc > 1 ? std::atoll(argv[1]) : 60000);
    std::string whyNot;
    const auto adapter = qv::recorder::OpenWaylandAdapter(idleLimit, whyNot);
    if (!adapter) {
        std::printf("unavailable: %s\n", whyNot.c_str());
        return 2;
    }
    std::printf("open %s counts-input=%s\n", adapter->Name().c_str(), adapter->CountsInput() ? "yes" : "no");
    Printer printer;
    while (!printer.gone) {
        pollfd ready{adapter->Fd(), POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 && errno != EINTR) return 1;
        adapter->Dispatch(printer);
    }
    return 0;
}
