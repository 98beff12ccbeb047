// What a session recorder needs from a desktop: which window is in front,
// when input happens (counted, never kept), and when the user is away.
// One adapter per kind of desktop (X11, wlroots Wayland); the session's
// record-making logic sees only this interface.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qv::recorder {

using SteadyTime = std::chrono::steady_clock::time_point;

// The window in front, as the desktop describes it. Fields the desktop does
// not know stay empty (pid 0).
struct FrontWindow {
    std::string title;
    pid_t pid = 0;
    std::string processName;   // from /proc/PID/exe, else comm; empty when unknown
    std::string windowClass;   // X11 WM_CLASS class, or the Wayland app id
    std::string instanceName;  // X11 WM_CLASS instance; empty on Wayland
    // Icon-file bytes (the .ico format the store keeps) made from the
    // window's own icon; empty when it has none.
    std::vector<unsigned char> icon;
};

enum class InputKind { Keyboard, Mouse };

// What an adapter reports, as it happens, from its Dispatch().
class DesktopEvents {
public:
    virtual ~DesktopEvents() = default;
    // nullopt: no window is in front (the desktop itself, or between two
    // activations).
    virtual void FrontChanged(const std::optional<FrontWindow>& window, SteadyTime when) = 0;
    // One counted event: a key press, a button press or wheel notch, or a
    // 250 ms stretch in which the pointer moved.
    virtual void Input(InputKind kind, SteadyTime when) = 0;
    // For desktops that tell idleness themselves (Wayland's idle protocols):
    // no input since lastInput, for the idle limit the adapter was opened
    // with; then Back() at the next input.
    virtual void Away(SteadyTime lastInput) = 0;
    virtual void Back(SteadyTime when) = 0;
    // The display went away: the session is over.
    virtual void DisplayGone() = 0;
};

class DesktopAdapter {
public:
    virtual ~DesktopAdapter() = default;
    // For logs and status: "X11", "Wayland (sway)"...
    virtual std::string Name() const = 0;
    // Whether Input() is ever called; Wayland gives clients no way to count.
    virtual bool CountsInput() const = 0;
    // A descriptor to poll for reading; Dispatch() when it is readable.
    virtual int Fd() const = 0;
    // Reads what is pending without blocking and reports it to events.
    virtual void Dispatch(DesktopEvents& events) = 0;
    // Time since the user's last input as the desktop knows it (the X screen
    // saver's idle time), polled by the session; nullopt when the adapter
    // reports idleness through Away()/Back() instead, or not at all.
    virtual std::optional<std::chrono::milliseconds> IdleTime() = 0;
};

// Tries each kind of desktop in order; each says on the log why it does or
// does not apply. nullptr when none does. idleLimit: after how long without
// input the user counts as away (for adapters that are told, not asked).
std::unique_ptr<DesktopAdapter> OpenDesktopAdapter(std::chrono::milliseconds idleLimit);

}  // namespace qv::recorder
