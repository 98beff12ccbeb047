#include "qvrecorder/session/wayland/wayland_adapter.h"

#include "qvrecorder/session/program_catalog.h"
#include "qvrecorder/session/wayland/compositor_ipc.h"
#include "qvrecorder/session/wayland/protocols/ext-idle-notify-v1-client-protocol.h"
#include "qvrecorder/session/wayland/protocols/idle-client-protocol.h"
#include "qvrecorder/session/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "records/log.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <vector>

namespace qv::recorder {

namespace {

constexpr std::uint32_t kManagerVersion = 3;
constexpr std::uint32_t kActivated = ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;

std::string Errno() { return std::strerror(errno); }

class WaylandAdapter final : public DesktopAdapter {
public:
    WaylandAdapter(wl_display* display, std::chrono::milliseconds idleLimit)
        : display_(display), idleLimit_(idleLimit) {}
    ~WaylandAdapter() override;
    WaylandAdapter(const WaylandAdapter&) = delete;
    WaylandAdapter& operator=(const WaylandAdapter&) = delete;

    // Binds what the compositor offers; false with whyNot set when it lacks
    // the foreign-toplevel manager or the connection fails.
    bool Start(std::string& whyNot);

    std::string Name() const override { return name_; }
    bool CountsInput() const override { return false; }
    int Fd() const override { return wl_display_get_fd(display_); }
    void Dispatch(DesktopEvents& events) override;
    std::optional<std::chrono::milliseconds> IdleTime() override { return std::nullopt; }

private:
    struct Toplevel {
        WaylandAdapter* owner = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        std::uint64_t id = 0;
        // As the events since the last done left them...
        std::string title, appId;
        bool activated = false;
        // ...and as the last done made them true.
        std::string doneTitle, doneAppId;
        bool doneActivated = false;
        std::uint64_t activatedOrder = 0;
        // The process, once found; lookedUp names what it was last looked up for.
        pid_t pid = 0;
        std::string processName;
        std::string lookedUp;
    };

    static void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version);
    static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static void OnToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle);
    static void OnFinished(void* data, zwlr_foreign_toplevel_manager_v1*);
    static void OnTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title);
    static void OnAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId);
    static void OnOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void OnState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states);
    static void OnDone(void* data, zwlr_foreign_toplevel_handle_v1*);
    static void OnClosed(void* data, zwlr_foreign_toplevel_handle_v1*);
    static void OnParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
    static void OnIdled(void* data);
    static void OnResumed(void* data);
    static void OnSynced(void* data, wl_callback* callback, std::uint32_t);

    static constexpr wl_registry_listener kRegistryListener{OnGlobal, OnGlobalRemove};
    static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{OnToplevel, OnFinished};
    static constexpr zwlr_foreign_toplevel_handle_v1_listener kToplevelListener{OnTitle, OnAppId, OnOutput, OnOutput,
                                                                                OnState, OnDone,  OnClosed, OnParent};
    static constexpr ext_idle_notification_v1_listener kExtIdleListener{
        [](void* data, ext_idle_notification_v1*) { OnIdled(data); },
        [](void* data, ext_idle_notification_v1*) { OnResumed(data); }};
    static constexpr org_kde_kwin_idle_timeout_listener kKdeIdleListener{
        [](void* data, org_kde_kwin_idle_timeout*) { OnIdled(data); },
        [](void* data, org_kde_kwin_idle_timeout*) { OnResumed(data); }};
    static constexpr wl_callback_listener kSyncListener{OnSynced};

    void StartIdle();
    void FindCompositorIpc();
    std::optional<std::vector<WindowView>> Views(std::string& error) const;
    void LookUpProcess(Toplevel& toplevel);
    void Report(DesktopEvents& events);
    void Gone(DesktopEvents& events);

    wl_display* display_;
    std::chrono::milliseconds idleLimit_;
    std::string name_ = "Wayland";
    wl_registry* registry_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::uint32_t managerVersion_ = 0;
    wl_seat* seat_ = nullptr;
    ext_idle_notifier_v1* extIdle_ = nullptr;
    ext_idle_notification_v1* extNotification_ = nullptr;
    org_kde_kwin_idle* kdeIdle_ = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
    std::list<Toplevel> toplevels_;
    std::uint64_t nextId_ = 1;
    std::uint64_t nextOrder_ = 1;

    // Idleness as it was told, reported at the end of the Dispatch that read it.
    struct IdleChange {
        bool away;
        SteadyTime when;
    };
    std::vector<IdleChange> idleChanges_;

    // The compositor's own IPC, which tells the windows' processes.
    enum class Ipc { None, Sway, Hyprland };
    Ipc ipc_ = Ipc::None;
    std::string ipcSocket_;
    bool ipcWarned_ = false;

    bool reported_ = false;
    std::uint64_t frontId_ = 0;
    std::optional<FrontWindow> front_;
    bool lost_ = false;  // the connection failed, or the compositor finished with us
    bool goneReported_ = false;
};

WaylandAdapter::~WaylandAdapter() {
    for (Toplevel& toplevel : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    if (manager_ != nullptr) {
        zwlr_foreign_toplevel_manager_v1_stop(manager_);
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    }
    if (extNotification_ != nullptr) ext_idle_notification_v1_destroy(extNotification_);
    if (extIdle_ != nullptr) ext_idle_notifier_v1_destroy(extIdle_);
    if (kdeTimeout_ != nullptr) org_kde_kwin_idle_timeout_release(kdeTimeout_);
    if (kdeIdle_ != nullptr) org_kde_kwin_idle_destroy(kdeIdle_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WaylandAdapter::OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t version) {
    auto* self = static_cast<WaylandAdapter*>(data);
    const std::string_view what(interface);
    // Bound at the lowest version that has what is needed: events of later
    // versions would need listeners this build may not have.
    if (what == zwlr_foreign_toplevel_manager_v1_interface.name && self->manager_ == nullptr) {
        self->managerVersion_ = std::min(version, kManagerVersion);
        self->manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, self->managerVersion_));
    } else if (what == wl_seat_interface.name && self->seat_ == nullptr) {
        self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (what == ext_idle_notifier_v1_interface.name && self->extIdle_ == nullptr) {
        self->extIdle_ =
            static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    } else if (what == org_kde_kwin_idle_interface.name && self->kdeIdle_ == nullptr) {
        self->kdeIdle_ =
            static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
}

void WaylandAdapter::OnToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<WaylandAdapter*>(data);
    Toplevel& toplevel = self->toplevels_.emplace_back();
    toplevel.owner = self;
    toplevel.handle = handle;
    toplevel.id = self->nextId_++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kToplevelListener, &toplevel);
}

void WaylandAdapter::OnFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    auto* self = static_cast<WaylandAdapter*>(data);
    // The compositor destroyed it: nothing will say which window is in front.
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->manager_ = nullptr;
    self->lost_ = true;
}

void WaylandAdapter::OnTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Toplevel*>(data)->title = title != nullptr ? title : "";
}

void WaylandAdapter::OnAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    static_cast<Toplevel*>(data)->appId = appId != nullptr ? appId : "";
}

void WaylandAdapter::OnState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* toplevel = static_cast<Toplevel*>(data);
    toplevel->activated = false;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof *state; ++i) {
        if (state[i] == kActivated) toplevel->activated = true;
    }
}

void WaylandAdapter::OnDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* toplevel = static_cast<Toplevel*>(data);
    if (toplevel->activated && !toplevel->doneActivated) toplevel->activatedOrder = toplevel->owner->nextOrder_++;
    toplevel->doneTitle = toplevel->title;
    toplevel->doneAppId = toplevel->appId;
    toplevel->doneActivated = toplevel->activated;
}

void WaylandAdapter::OnClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
    auto* toplevel = static_cast<Toplevel*>(data);
    WaylandAdapter* self = toplevel->owner;
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    self->toplevels_.remove_if([toplevel](const Toplevel& each) { return &each == toplevel; });
}

void WaylandAdapter::OnIdled(void* data) {
    auto* self = static_cast<WaylandAdapter*>(data);
    const SteadyTime now = std::chrono::steady_clock::now();
    self->idleChanges_.push_back({true, now - self->idleLimit_});
}

void WaylandAdapter::OnResumed(void* data) {
    static_cast<WaylandAdapter*>(data)->idleChanges_.push_back({false, std::chrono::steady_clock::now()});
}

void WaylandAdapter::OnSynced(void*, wl_callback* callback, std::uint32_t) { wl_callback_destroy(callback); }

bool WaylandAdapter::Start(std::string& whyNot) {
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    if (wl_display_roundtrip(display_) < 0) {
        whyNot = "the Wayland connection failed while listing the compositor's globals: " + Errno();
        return false;
    }
    if (manager_ == nullptr) {
        whyNot =
            "the compositor (GNOME or KDE?) offers no zwlr_foreign_toplevel_manager_v1, which tells which window "
            "is in front; wlroots compositors (sway, Hyprland, labwc, Wayfire) offer it";
        return false;
    }
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &kManagerListener, this);
    StartIdle();
    // The windows already open, with their first state.
    if (wl_display_roundtrip(display_) < 0) {
        whyNot = "the Wayland connection failed while listing the open windows: " + Errno();
        return false;
    }
    FindCompositorIpc();
    // What the roundtrips read is reported by the first Dispatch(); the
    // compositor's answer to this makes the socket readable for it.
    wl_callback_add_listener(wl_display_sync(display_), &kSyncListener, this);
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        whyNot = "the Wayland connection failed: " + Errno();
        return false;
    }
    return true;
}

void WaylandAdapter::StartIdle() {
    const auto limit =
        static_cast<std::uint32_t>(std::clamp<std::chrono::milliseconds::rep>(idleLimit_.count(), 1, UINT32_MAX));
    if (seat_ != nullptr && extIdle_ != nullptr) {
        extNotification_ = ext_idle_notifier_v1_get_idle_notification(extIdle_, limit, seat_);
        ext_idle_notification_v1_add_listener(extNotification_, &kExtIdleListener, this);
    } else if (seat_ != nullptr && kdeIdle_ != nullptr) {
        kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, limit);
        org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &kKdeIdleListener, this);
    } else {
        LogLine(seat_ == nullptr ? "Wayland: the compositor offers no seat: the user's absence is not detected"
                                 : "Wayland: the compositor offers no idle protocol (ext_idle_notifier_v1 or "
                                   "org_kde_kwin_idle): the user's absence is not detected");
    }
}

void WaylandAdapter::FindCompositorIpc() {
    const char* sway = std::getenv("SWAYSOCK");
    if (sway != nullptr && *sway != '\0') {
        ipc_ = Ipc::Sway;
        ipcSocket_ = sway;
        name_ = "Wayland (sway)";
    } else if (std::string hyprland = HyprlandSocket(); !hyprland.empty()) {
        ipc_ = Ipc::Hyprland;
        ipcSocket_ = std::move(hyprland);
        name_ = "Wayland (Hyprland)";
    } else {
        LogLine("Wayland: neither sway's nor Hyprland's IPC is there: processes are named by their app id");
        return;
    }
    std::string error;
    if (!Views(error)) {
        LogLine("Wayland: " + error + "; processes are named by their app id");
        ipc_ = Ipc::None;
        name_ = "Wayland";
    }
}

std::optional<std::vector<WindowView>> WaylandAdapter::Views(std::string& error) const {
    return ipc_ == Ipc::Sway ? SwayViews(ipcSocket_, error) : HyprlandViews(ipcSocket_, error);
}

void WaylandAdapter::LookUpProcess(Toplevel& toplevel) {
    const std::string key = toplevel.doneAppId + '\n' + toplevel.doneTitle;
    if (toplevel.pid != 0 || ipc_ == Ipc::None || toplevel.lookedUp == key) return;
    toplevel.lookedUp = key;
    std::string error;
    const auto views = Views(error);
    if (!views) {
        // Once: a compositor that stopped answering would fill the log.
        if (!ipcWarned_) LogLine("Wayland: " + error + "; processes are named by their app id for now");
        ipcWarned_ = true;
        return;
    }
    // The same app id and title, the focused view first; else the focused
    // view of the same app id (its title moved on since). An Xwayland window
    // may have no app id here, and its class there: then the title decides.
    const WindowView* found = nullptr;
    int best = 0;
    for (const WindowView& view : *views) {
        const bool sameApp = view.appId == toplevel.doneAppId;
        if (!sameApp && !toplevel.doneAppId.empty()) continue;
        const int score = (view.title == toplevel.doneTitle ? 2 : 0) + (view.focused && sameApp ? 1 : 0);
        if (score > best) {
            best = score;
            found = &view;
        }
    }
    if (found == nullptr) return;
    toplevel.pid = found->pid;
    toplevel.processName = ProcessName(found->pid);
}

void WaylandAdapter::Report(DesktopEvents& events) {
    for (const IdleChange& change : idleChanges_) {
        if (change.away) {
            events.Away(change.when);
        } else {
            events.Back(change.when);
        }
    }
    idleChanges_.clear();

    Toplevel* front = nullptr;
    for (Toplevel& toplevel : toplevels_) {
        if (toplevel.doneActivated && (front == nullptr || toplevel.activatedOrder > front->activatedOrder)) {
            front = &toplevel;
        }
    }
    const SteadyTime now = std::chrono::steady_clock::now();
    if (front == nullptr) {
        if (reported_ && !front_) return;
        reported_ = true;
        frontId_ = 0;
        front_.reset();
        events.FrontChanged(std::nullopt, now);
        return;
    }
    LookUpProcess(*front);
    FrontWindow window;
    window.title = front->doneTitle;
    window.windowClass = front->doneAppId;
    window.pid = front->pid;
    window.processName = front->processName.empty() ? front->doneAppId : front->processName;
    if (reported_ && front_ && frontId_ == front->id && front_->title == window.title &&
        front_->windowClass == window.windowClass && front_->pid == window.pid &&
        front_->processName == window.processName) {
        return;
    }
    reported_ = true;
    frontId_ = front->id;
    front_ = window;
    events.FrontChanged(front_, now);
}

void WaylandAdapter::Gone(DesktopEvents& events) {
    if (goneReported_) return;
    goneReported_ = true;
    LogLine("Wayland: the connection to the compositor ended" +
            (wl_display_get_error(display_) != 0 ? ": " + std::string(std::strerror(wl_display_get_error(display_)))
                                                 : std::string()));
    events.DisplayGone();
}

void WaylandAdapter::Dispatch(DesktopEvents& events) {
    if (lost_) return Gone(events);
    // Reads only what is there: the caller polls, and a spurious call must
    // not block.
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            lost_ = true;
            return Gone(events);
        }
    }
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        lost_ = true;
        return Gone(events);
    }
    pollfd ready{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(display_) < 0) lost_ = true;
    } else {
        wl_display_cancel_read(display_);
    }
    if (!lost_ && wl_display_dispatch_pending(display_) < 0) lost_ = true;
    if (!lost_ && wl_display_flush(display_) < 0 && errno != EAGAIN) lost_ = true;
    Report(events);
    if (lost_) Gone(events);
}

}  // namespace

std::unique_ptr<DesktopAdapter> OpenWaylandAdapter(std::chrono::milliseconds idleLimit, std::string& whyNot) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') {
        whyNot = "WAYLAND_DISPLAY is not set: not a Wayland session";
        return nullptr;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        whyNot = std::string("cannot connect to the Wayland display ") + name + ": " + Errno();
        return nullptr;
    }
    auto adapter = std::make_unique<WaylandAdapter>(display, idleLimit);
    if (!adapter->Start(whyNot)) return nullptr;
    return adapter;
}

}  // namespace qv::recorder
