// qvrecorder session: one per graphical session; makes records of the
// window in front and hands them to the computer's daemon.
#include "qvrecorder/commands.h"
#include "qvrecorder/options.h"
#include "qvrecorder/session/handover.h"
#include "qvrecorder/session/logind.h"
#include "qvrecorder/session/record_maker.h"
#include "records/log.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdlib>

namespace qv::recorder {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kTick{1000};
constexpr milliseconds kRetry{3000};
constexpr std::chrono::seconds kLastHandover{5};

struct SessionOptions {
    std::vector<std::string> socketArgs;
    std::chrono::seconds idle{180};
    std::chrono::seconds recordMax{60};
};

std::chrono::seconds Seconds(const std::string& name, const std::string& text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 || value > 86'400)
        throw UsageError("--" + name + " takes whole seconds from 1 to 86400, not '" + text + "'");
    return std::chrono::seconds(value);
}

SessionOptions ParseSessionOptions(const std::vector<std::string>& args) {
    SessionOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name != "--socket" && name != "--idle" && name != "--record-max")
            throw UsageError(arg.rfind("--", 0) == 0 ? "unknown option " + name : "unexpected argument " + arg);
        std::string value;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        else
            throw UsageError(name + " needs a value");
        if (name == "--socket")
            options.socketArgs = {"--socket", value};
        else if (name == "--idle")
            options.idle = Seconds("idle", value);
        else
            options.recordMax = Seconds("record-max", value);
    }
    return options;
}

PrivacyRules ReadPrivacy() {
    try {
        return LoadPrivacyRules(UserSettingsFile(), kDefaultConfig);
    } catch (const SettingsError& error) {
        // Recording goes on (a user cannot stop it with a bad file), but no title a rule might have hidden is kept.
        LogLine(std::string(error.what()) + "; every window title is recorded as its program's name until it is fixed");
    }
    PrivacyRules rules;
    try {
        rules = LoadPrivacyRules("", kDefaultConfig);
    } catch (const SettingsError&) {
        rules = LoadPrivacyRules("", "");
    }
    rules.hideAllTitles = true;
    return rules;
}

int SignalFd() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Both the autostart entry and the user unit may start a recorder: the one that holds the display's lock records,
// the other ends. -1 when another holds it; 0 when there is no runtime folder to hold one in.
int LockDisplay() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    std::string display = wayland && *wayland ? wayland : x11 && *x11 ? x11 : "";
    if (!runtime || *runtime != '/' || display.empty()) return 0;
    for (char& c : display) {
        if (c == '/') c = '_';
    }
    const std::string path = std::string(runtime) + "/qvrecorder-session-" + display + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;  // held until the process ends
}

}  // namespace

int RunSession(const std::vector<std::string>& args) {
    const SessionOptions options = ParseSessionOptions(args);
    const std::string socket = ParseClientSocket(options.socketArgs);
    if (LockDisplay() < 0) {
        LogLine("another session recorder records this display; this one ends");
        return 0;
    }
    const int signals = SignalFd();
    std::unique_ptr<DesktopAdapter> adapter = OpenDesktopAdapter(options.idle);
    if (!adapter) {
        LogLine(
            "no desktop this session recorder knows, nothing to record: it records X11 desktops and Wayland "
            "compositors built on wlroots (sway, Hyprland, labwc, Wayfire), not yet GNOME or KDE on Wayland");
        return kExitUnsupportedDesktop;
    }

    quorvis::relay::v1::SessionHello hello;
    hello.set_adapter(adapter->Name());
    hello.set_counts_input(adapter->CountsInput());
    Handover handover(socket, hello);
    const ProgramCatalog catalog(ProgramCatalog::DataDirsFromEnvironment());
    RecordMaker maker(
        {options.idle, options.recordMax}, catalog, ReadPrivacy(),
        [&handover](quorvis::v1::LiveRecord record, std::optional<quorvis::v1::ProgramIcon> icon) {
            handover.Add(std::move(record), std::move(icon));
        },
        &SystemRealMs);

    std::string whyNot;
    auto logind = LogindWatch::Open([&maker](bool locked) { maker.Locked(locked, steady_clock::now()); },
                                    [&maker](bool sleeping) { maker.Sleeping(sleeping, steady_clock::now()); }, whyNot);
    if (!logind) LogLine("logind: " + whyNot + "; a locked screen and sleep are not noticed");
    LogLine("recording the session for the qvrecorder daemon on " + socket + " (" +
            std::to_string(catalog.EntryCount()) + " desktop entries)");

    adapter->Dispatch(maker);
    auto nextTick = steady_clock::now() + kTick;
    auto nextTry = steady_clock::now();
    bool stop = false;
    while (!stop && !maker.DisplayIsGone()) {
        pollfd fds[3] = {{adapter->Fd(), POLLIN, 0}, {signals, POLLIN, 0}, {-1, 0, 0}};
        if (logind) fds[2] = {logind->Fd(), logind->Events(), 0};
        const auto wait = std::max<milliseconds::rep>(
            0, std::chrono::duration_cast<milliseconds>(nextTick - steady_clock::now()).count() + 1);
        if (::poll(fds, 3, static_cast<int>(wait)) < 0 && errno != EINTR) break;
        // Both connections may hold messages they read while waiting for a reply, which poll() does not see: each
        // is asked every time round, which costs nothing when nothing waits.
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            maker.DisplayGone();
        else
            adapter->Dispatch(maker);
        if (fds[1].revents) stop = true;
        if (logind && !logind->Dispatch()) {
            LogLine("logind: the system bus went away; a locked screen and sleep are no longer noticed");
            logind.reset();
        }
        const auto now = steady_clock::now();
        if (now >= nextTick) {
            maker.Tick(now, adapter->IdleTime());
            adapter->Dispatch(maker);
            nextTick = now + kTick;
        }
        // Connected while nothing waits, too: the daemon's status lists the session from its start.
        if ((handover.Waiting() > 0 || !handover.Connected()) && now >= nextTry) {
            if (!handover.Pump()) nextTry = now + kRetry;
        }
    }

    maker.Finish(steady_clock::now());
    LogLine(stop ? "the session ends" : "the display went away; the session ends");
    if (!handover.Flush(steady_clock::now() + kLastHandover)) {
        LogLine(std::to_string(handover.Waiting()) +
                " records and icons were not handed over: no qvrecorder daemon took them");
        return kExitFailure;
    }
    return 0;
}

}  // namespace qv::recorder
