#include "qvrecorder/session/x11/x11_adapter.h"

#include "qvrecorder/session/icon.h"
#include "qvrecorder/session/program_catalog.h"
#include "records/log.h"

#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xinput.h>

#include <bitset>
#include <cstdlib>
#include <map>

namespace qv::recorder {

namespace {

using std::chrono::steady_clock;

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

constexpr std::chrono::milliseconds kMotionStretch{250};
constexpr std::chrono::seconds kRecheck{5};
// Titles longer than this are cut (the store keeps at most 64 KiB of one).
constexpr std::uint32_t kMaxTitleWords = 16384;

// What stays the same while a window lives; read once per window.
struct WindowFacts {
    pid_t pid = 0;
    std::string processName;
    std::string windowClass;
    std::string instanceName;
    std::vector<unsigned char> icon;
};

class X11Adapter : public DesktopAdapter {
public:
    X11Adapter(xcb_connection_t* connection, int screenNumber) : c_(connection), screenNumber_(screenNumber) {}
    ~X11Adapter() override {
        if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
        xcb_disconnect(c_);
    }

    bool Init(std::string& whyNot);

    std::string Name() const override { return "X11"; }
    bool CountsInput() const override { return countsInput_; }
    int Fd() const override { return xcb_get_file_descriptor(c_); }
    void Dispatch(DesktopEvents& events) override;
    std::optional<std::chrono::milliseconds> IdleTime() override;

private:
    void ReportFront(DesktopEvents& events, SteadyTime when);
    void Handle(const xcb_generic_event_t& event, DesktopEvents& events, SteadyTime when);
    std::string Title(xcb_window_t window);
    const WindowFacts& Facts(xcb_window_t window);
    pid_t ClientPid(xcb_window_t window);
    std::vector<unsigned char> WindowIcon(xcb_window_t window);
    void Follow(xcb_window_t window, bool follow);

    xcb_connection_t* c_;
    int screenNumber_;
    xcb_window_t root_ = XCB_NONE;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    std::uint8_t xinputOpcode_ = 0;
    bool countsInput_ = false;
    bool hasScreenSaver_ = false;
    bool hasXRes_ = false;
    xcb_window_t front_ = XCB_NONE;
    SteadyTime lastCheck_{};
    std::map<xcb_window_t, WindowFacts> facts_;
    // Keys down now, to count a held key once; forgotten at release.
    std::bitset<256> down_;
    std::optional<SteadyTime> lastMotion_;
};

bool X11Adapter::Init(std::string& whyNot) {
    const xcb_setup_t* setup = xcb_get_setup(c_);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber_ && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) {
        whyNot = "the display has no screen " + std::to_string(screenNumber_);
        return false;
    }
    root_ = screens.data->root;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(c_, &ewmh_);
    if (!cookies || !xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr)) {
        whyNot = "the display does not answer";
        return false;
    }
    ewmhReady_ = true;

    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &rootMask);

    const auto* xinput = xcb_get_extension_data(c_, &xcb_input_id);
    if (xinput && xinput->present) {
        Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
        if (version && version->major_version >= 2) {
            xinputOpcode_ = xinput->major_opcode;
            struct {
                xcb_input_event_mask_t head;
                std::uint32_t mask;
            } select{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                     XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                         XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
            countsInput_ = true;
            xcb_input_xi_select_events(c_, root_, 1, &select.head);
        }
    }
    if (!countsInput_) LogLine("X11: the display has no XInput 2; keyboard and mouse events are not counted");
    const auto* saver = xcb_get_extension_data(c_, &xcb_screensaver_id);
    hasScreenSaver_ = saver && saver->present;
    if (!hasScreenSaver_) LogLine("X11: the display has no MIT-SCREEN-SAVER; away time is not told apart");
    const auto* res = xcb_get_extension_data(c_, &xcb_res_id);
    if (res && res->present) {
        Reply<xcb_res_query_version_reply_t> version(
            xcb_res_query_version_reply(c_, xcb_res_query_version(c_, 1, 2), nullptr));
        hasXRes_ = version && (version->server_major > 1 || version->server_minor >= 2);
    }
    xcb_flush(c_);
    if (xcb_connection_has_error(c_)) {
        whyNot = "the display closed the connection";
        return false;
    }
    return true;
}

std::string X11Adapter::Title(xcb_window_t window) {
    // Any type: most write UTF8_STRING, some STRING or COMPOUND_TEXT.
    for (const xcb_atom_t atom : {ewmh_._NET_WM_NAME, static_cast<xcb_atom_t>(XCB_ATOM_WM_NAME)}) {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxTitleWords), nullptr));
        if (!reply || reply->format != 8) continue;
        const int length = xcb_get_property_value_length(reply.get());
        if (length > 0) return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
    }
    return {};
}

pid_t X11Adapter::ClientPid(xcb_window_t window) {
    if (hasXRes_) {
        // The server knows the pid of a local client; _NET_WM_PID is only what the client claims, if it does.
        xcb_res_client_id_spec_t pidOfWindow{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        Reply<xcb_res_query_client_ids_reply_t> reply(
            xcb_res_query_client_ids_reply(c_, xcb_res_query_client_ids(c_, 1, &pidOfWindow), nullptr));
        if (reply) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
                 xcb_res_client_id_value_next(&it)) {
                [[maybe_unused]] const auto& [id, bytes] = *it.data;
                if ((id.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) == 1) {
                    return static_cast<pid_t>(*xcb_res_client_id_value_value(it.data));
                }
            }
        }
    }
    std::uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, window), &pid, nullptr)) {
        return static_cast<pid_t>(pid);
    }
    return 0;
}

std::vector<unsigned char> X11Adapter::WindowIcon(xcb_window_t window) {
    xcb_ewmh_get_wm_icon_reply_t icons;
    if (!xcb_ewmh_get_wm_icon_reply(&ewmh_, xcb_ewmh_get_wm_icon(&ewmh_, window), &icons, nullptr)) return {};
    std::vector<ArgbImage> images;
    for (auto it = xcb_ewmh_get_wm_icon_iterator(&icons); it.rem > 0; xcb_ewmh_get_wm_icon_next(&it)) {
        if (it.width == 0 || it.height == 0 || it.width > 1024 || it.height > 1024) continue;
        images.push_back({static_cast<int>(it.width), static_cast<int>(it.height),
                          std::vector<std::uint32_t>(it.data, it.data + it.width * it.height)});
    }
    xcb_ewmh_get_wm_icon_reply_wipe(&icons);
    if (images.empty()) return {};
    return IconFromArgb({ScaledImage(images, 16), ScaledImage(images, 32)});
}

const WindowFacts& X11Adapter::Facts(xcb_window_t window) {
    if (const auto it = facts_.find(window); it != facts_.end()) return it->second;
    // Window ids come back after a while; a small cache forgets them before that matters.
    if (facts_.size() >= 64) facts_.clear();
    WindowFacts facts;
    facts.pid = ClientPid(window);
    facts.processName = ProcessName(facts.pid);
    xcb_icccm_get_wm_class_reply_t wmClass;
    if (xcb_icccm_get_wm_class_reply(c_, xcb_icccm_get_wm_class(c_, window), &wmClass, nullptr)) {
        if (wmClass.class_name) facts.windowClass = wmClass.class_name;
        if (wmClass.instance_name) facts.instanceName = wmClass.instance_name;
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    }
    facts.icon = WindowIcon(window);
    return facts_.emplace(window, std::move(facts)).first->second;
}

void X11Adapter::Follow(xcb_window_t window, bool follow) {
    if (window == XCB_NONE || window == root_) return;
    const std::uint32_t mask = follow ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(c_, window, XCB_CW_EVENT_MASK, &mask);
}

void X11Adapter::ReportFront(DesktopEvents& events, SteadyTime when) {
    lastCheck_ = when;
    xcb_window_t active = XCB_NONE;
    if (!xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, screenNumber_), &active,
                                          nullptr)) {
        active = XCB_NONE;
    }
    if (active != front_) {
        Follow(front_, false);
        front_ = active;
        Follow(front_, true);
        xcb_flush(c_);
    }
    if (front_ == XCB_NONE || front_ == root_) {
        events.FrontChanged(std::nullopt, when);
        return;
    }
    const WindowFacts& facts = Facts(front_);
    FrontWindow window;
    window.title = Title(front_);
    window.pid = facts.pid;
    window.processName = facts.processName;
    window.windowClass = facts.windowClass;
    window.instanceName = facts.instanceName;
    window.icon = facts.icon;
    events.FrontChanged(window, when);
}

void X11Adapter::Handle(const xcb_generic_event_t& event, DesktopEvents& events, SteadyTime when) {
    const std::uint8_t type = event.response_type & 0x7F;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& property = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (property.window == root_ && property.atom == ewmh_._NET_ACTIVE_WINDOW) {
            ReportFront(events, when);
        } else if (property.window == front_ &&
                   (property.atom == ewmh_._NET_WM_NAME || property.atom == XCB_ATOM_WM_NAME)) {
            ReportFront(events, when);
        } else if (property.window == front_ && property.atom == ewmh_._NET_WM_ICON) {
            facts_.erase(front_);
        }
        return;
    }
    if (type != XCB_GE_GENERIC) return;
    const auto& generic = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (generic.extension != xinputOpcode_) return;
    switch (generic.event_type) {
        case XCB_INPUT_RAW_KEY_PRESS: {
            const auto key = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event).detail & 0xFF;
            if (!down_.test(key)) {
                down_.set(key);
                events.Input(InputKind::Keyboard, when);
            }
            break;
        }
        case XCB_INPUT_RAW_KEY_RELEASE:
            down_.reset(reinterpret_cast<const xcb_input_raw_key_release_event_t&>(event).detail & 0xFF);
            break;
        case XCB_INPUT_RAW_BUTTON_PRESS:
            // Buttons 4 to 7 are the wheel's notches: each one is one event, like a click.
            events.Input(InputKind::Mouse, when);
            break;
        case XCB_INPUT_RAW_MOTION:
            // A stretch of motion counts once per quarter second, however many events it makes.
            if (!lastMotion_ || when - *lastMotion_ >= kMotionStretch) {
                lastMotion_ = when;
                events.Input(InputKind::Mouse, when);
            }
            break;
    }
}

void X11Adapter::Dispatch(DesktopEvents& events) {
    // The window in front when the session starts, and now and then again in case a change went unannounced.
    if (steady_clock::now() - lastCheck_ >= kRecheck) ReportFront(events, steady_clock::now());
    while (xcb_generic_event_t* raw = xcb_poll_for_event(c_)) {
        Reply<xcb_generic_event_t> event(raw);
        Handle(*event, events, steady_clock::now());
    }
    if (xcb_connection_has_error(c_)) events.DisplayGone();
}

std::optional<std::chrono::milliseconds> X11Adapter::IdleTime() {
    if (!hasScreenSaver_) return std::nullopt;
    Reply<xcb_screensaver_query_info_reply_t> info(
        xcb_screensaver_query_info_reply(c_, xcb_screensaver_query_info(c_, root_), nullptr));
    if (!info) return std::nullopt;
    return std::chrono::milliseconds(info->ms_since_user_input);
}

}  // namespace

std::unique_ptr<DesktopAdapter> OpenX11Adapter(std::string& whyNot) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        whyNot = "DISPLAY is not set";
        return nullptr;
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        // There the X display is Xwayland's, which sees none of the Wayland windows.
        whyNot = "this is a Wayland session (WAYLAND_DISPLAY is set)";
        return nullptr;
    }
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display, &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        whyNot = std::string("cannot connect to the display ") + display;
        return nullptr;
    }
    auto adapter = std::make_unique<X11Adapter>(connection, screen);
    if (!adapter->Init(whyNot)) return nullptr;
    return adapter;
}

}  // namespace qv::recorder
