// The session recorder on a real X display (Xvfb and openbox), driven by
// xdotool, handing its records to a real daemon and service; the store is
// read back to check times and counts.
#include "qvrecorder/session/x11/x11_adapter.h"
#include "records/icon_file.h"
#include "tests/support/recorder_daemon.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"
#include "tests/support/x_session.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Totals {
    std::int64_t durationMs = 0, keyboard = 0, mouse = 0, rows = 0;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

class SessionOnX11 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (XSession::MissingProgram()) return;
        shared_ = new Shared;
        Shared& s = *shared_;
        s.certs = CopyTestCertificates(s.dir);
        s.store = s.dir.File("store.db");
        if (RunQvservice({"init", "--store", s.store}).exitCode != 0) throw std::runtime_error("qvservice init failed");
        WriteFile(s.dir.File("empty.conf"), "");
        s.x = std::make_unique<XSession>();
        // Every window lies under the pointer, which moves no more: a click lands on the window in front (on the
        // desktop, it would take the focus away).
        s.x->Xdotool({"mousemove", "100", "100"});
        s.service = ServeRecording(s.store, s.certs);
        const std::string address = s.service->ListeningAddress();
        s.port = address.substr(address.rfind(':') + 1);
        std::filesystem::create_directories(s.dir.File("data/applications"));
        WriteFile(s.dir.File("data/applications/xlogo.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Logo Viewer\nExec=xlogo\n");
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }
    void SetUp() override {
        if (const auto missing = XSession::MissingProgram()) GTEST_SKIP() << missing.value() << " is not installed";
        if (!s().daemon) StartDaemon();
    }

    static void StartDaemon() {
        Shared& s = *shared_;
        s.daemon = std::make_unique<BackgroundProcess>(RecorderDaemonCommand(
            "localhost:" + s.port, s.certs, s.dir.File("socket"), s.dir.File("spool"), s.dir.File("empty.conf")));
        if (!s.daemon->WaitForLog("listening on ")) throw std::runtime_error("no daemon: " + s.daemon->Log());
    }

    std::unique_ptr<BackgroundProcess> StartSession(const std::vector<std::string>& extra = {}) {
        // Desktop entries and settings of the test's own, and no others; the display's programs keep theirs.
        std::vector<std::string> command{"env",
                                         "XDG_DATA_HOME=" + s().dir.File("data"),
                                         "XDG_DATA_DIRS=" + s().dir.File("none"),
                                         "XDG_CONFIG_HOME=" + s().dir.File("config"),
                                         QVRECORDER_PATH,
                                         "session",
                                         "--socket",
                                         s().dir.File("socket")};
        command.insert(command.end(), extra.begin(), extra.end());
        auto session = std::make_unique<BackgroundProcess>(command);
        EXPECT_TRUE(session->WaitForLog("recording the session")) << session->Log();
        return session;
    }

    // A window of xlogo or xmessage (both take the focus) with this title. ("q" would end xlogo.)
    std::string Window(const std::string& title, const std::string& program = "xlogo") {
        std::vector<std::string> command{program, "-geometry", "300x200+0+0", "-title", title};
        if (program == "xmessage") command.push_back("qv");
        windows_.push_back(std::make_unique<BackgroundProcess>(command));
        const std::string id = s().x->WaitForWindow(title);
        return id;
    }
    Clock::time_point Activate(const std::string& id) {
        s().x->Xdotool({"windowactivate", "--sync", id});
        return Clock::now();
    }

    // Waits until the daemon has passed everything on to the service.
    void WaitDelivered() {
        EXPECT_TRUE(RecorderStatusSays(s().dir.File("socket"), "waiting 0"))
            << "spool never emptied: " << s().daemon->Log();
    }

    static std::map<std::string, Totals> ByTitle() {
        std::map<std::string, Totals> totals;
        for (const StoredActivity& row : ReadStoredActivity(s().store)) {
            Totals& t = totals[row.title];
            t.durationMs += row.durationMs;
            t.keyboard += row.keyboard;
            t.mouse += row.mouse;
            t.rows += 1;
        }
        return totals;
    }

    struct Shared {
        TempDir dir;
        std::string certs, store, port;
        std::unique_ptr<XSession> x;
        std::unique_ptr<ServiceProcess> service;
        std::unique_ptr<BackgroundProcess> daemon;
    };
    static Shared& s() { return *shared_; }
    static inline Shared* shared_ = nullptr;
    std::vector<std::unique_ptr<BackgroundProcess>> windows_;
};

TEST_F(SessionOnX11, RecordsTimesAndCountsOfEachWindowAndNothingTyped) {
    const std::string alpha = Window("qv-alpha");
    const std::string beta = Window("qv-beta", "xmessage");
    auto session = StartSession();

    // Alpha: 5 typed keys (a string that must appear nowhere) and 3 clicks.
    const auto alphaStart = Activate(alpha);
    s().x->Xdotool({"type", "--delay", "50", "zkxjv"});
    s().x->Xdotool({"click", "--repeat", "3", "--delay", "50", "1"});
    Sleep(1.0);
    // Beta: 2 keys, one of them held long enough to repeat, and 4 clicks; then a new title.
    const auto betaStart = Activate(beta);
    const double alphaSeconds = Seconds(betaStart - alphaStart);
    s().x->Xdotool({"key", "b"});
    s().x->Xdotool({"keydown", "c"});
    Sleep(1.2);
    s().x->Xdotool({"keyup", "c"});
    s().x->Xdotool({"click", "--repeat", "4", "--delay", "50", "1"});
    const auto renamed = Clock::now();
    s().x->Xdotool({"set_window", "--name", "qv-beta-renamed", beta});
    Sleep(1.0);
    const auto end = Clock::now();
    ASSERT_EQ(session->Stop(SIGTERM), 0) << session->Log();
    WaitDelivered();

    auto totals = ByTitle();
    EXPECT_NEAR(totals["qv-alpha"].durationMs / 1000.0, alphaSeconds, 0.5);
    EXPECT_EQ(totals["qv-alpha"].keyboard, 5);
    EXPECT_EQ(totals["qv-alpha"].mouse, 3);
    EXPECT_NEAR(totals["qv-beta"].durationMs / 1000.0, Seconds(renamed - betaStart), 0.5);
    EXPECT_EQ(totals["qv-beta"].keyboard, 2);
    EXPECT_EQ(totals["qv-beta"].mouse, 4);
    EXPECT_NEAR(totals["qv-beta-renamed"].durationMs / 1000.0, Seconds(end - renamed), 0.5);
    for (const StoredActivity& row : ReadStoredActivity(s().store)) {
        // xlogo and xmessage set no _NET_WM_PID: the name comes from the server's knowledge of the client.
        if (row.title == "qv-alpha") {
            EXPECT_EQ(row.process + "|" + row.description, "xlogo|Logo Viewer");
        } else if (row.title.rfind("qv-beta", 0) == 0) {
            EXPECT_EQ(row.process + "|" + row.description, "xmessage|Xmessage");
        }
    }
    EXPECT_EQ(RunProgram({"xprop", "-id", alpha, "_NET_WM_PID"}).out.find("= "), std::string::npos);

    const std::string everything = session->Log() + s().daemon->Log() + s().service->Log() + ReadFile(s().store);
    EXPECT_EQ(everything.find("zkxjv"), std::string::npos);
    EXPECT_EQ(session->Log().find("qv-alpha"), std::string::npos) << "a title in the log";
}

TEST_F(SessionOnX11, HidesPrivateTitlesAndLeavesAwayTimeOut) {
    std::filesystem::create_directories(s().dir.File("config"));
    WriteFile(s().dir.File("config/qvrecorder.conf"), "# private\nhide-titles-matching = secret\n");
    const std::string secret = Window("qv-secret-plans");
    const std::string idle = Window("qv-idle", "xmessage");
    auto session = StartSession({"--idle", "2"});

    Activate(secret);
    s().x->Xdotool({"key", "a"});
    Sleep(0.8);
    // Present for about 1 s, away for 5, present for 1 more.
    const auto first = Activate(idle);
    s().x->Xdotool({"key", "a"});
    Sleep(1.0);
    s().x->Xdotool({"key", "a"});
    const auto lastBeforePause = Clock::now();
    Sleep(5.0);
    s().x->Xdotool({"key", "a"});
    const auto back = Clock::now();
    Sleep(1.0);
    const auto end = Clock::now();
    ASSERT_EQ(session->Stop(SIGTERM), 0) << session->Log();
    WaitDelivered();
    std::filesystem::remove(s().dir.File("config/qvrecorder.conf"));

    auto totals = ByTitle();
    EXPECT_EQ(totals.count("qv-secret-plans"), 0u);
    EXPECT_EQ(totals["Logo Viewer"].keyboard, 1);
    EXPECT_EQ(totals["qv-idle"].keyboard, 3);
    EXPECT_NEAR(totals["qv-idle"].durationMs / 1000.0, Seconds(lastBeforePause - first) + Seconds(end - back), 1.0);
}

TEST_F(SessionOnX11, KillingTheRelayLosesNothingAndKillingTheRecorderOnlyItsOpenRecord) {
    const std::string relayed = Window("qv-relayed");
    auto session = StartSession({"--record-max", "1"});
    const auto start = Activate(relayed);
    int keys = 0;
    for (int i = 0; i < 10; ++i) {
        if (i == 3) s().daemon->Stop(SIGKILL);
        if (i == 6) StartDaemon();
        s().x->Xdotool({"key", "a"});
        ++keys;
        Sleep(0.3);
    }
    const double seconds = Seconds(Clock::now() - start);
    ASSERT_EQ(session->Stop(SIGTERM), 0) << session->Log();
    WaitDelivered();
    auto totals = ByTitle();
    EXPECT_EQ(totals["qv-relayed"].keyboard, keys) << session->Log();
    EXPECT_NEAR(totals["qv-relayed"].durationMs / 1000.0, seconds, 0.5);
    EXPECT_GE(totals["qv-relayed"].rows, 3);
    EXPECT_NE(session->Log().find("the records wait"), std::string::npos) << session->Log();
    EXPECT_NE(session->Log().find("takes the records again"), std::string::npos) << session->Log();

    const std::string killed = Window("qv-killed");
    session = StartSession({"--record-max", "1"});
    const auto killedStart = Activate(killed);
    for (int i = 0; i < 10; ++i) {
        s().x->Xdotool({"key", "a"});
        Sleep(0.3);
    }
    const double killedSeconds = Seconds(Clock::now() - killedStart);
    session->Stop(SIGKILL);
    WaitDelivered();
    totals = ByTitle();
    // At most the last second (the open record) is lost, with its keys.
    EXPECT_GE(totals["qv-killed"].durationMs / 1000.0, killedSeconds - 1.5);
    EXPECT_GE(totals["qv-killed"].keyboard, 10 - 4);
}

TEST_F(SessionOnX11, EndsWithItsDisplayAndHandsOverTheLastRecord) {
    std::unique_ptr<BackgroundProcess> session, window;
    Clock::time_point start;
    {
        const XSession own;  // DISPLAY names it until it ends
        std::string id;
        // Once seen in CI under load: the window never showed. A second client tells a lost start from a fault.
        for (int attempt = 0; attempt < 2 && id.empty(); ++attempt) {
            window = std::make_unique<BackgroundProcess>(std::vector<std::string>{"xlogo", "-title", "qv-last"});
            try {
                id = own.WaitForWindow("qv-last");
            } catch (const std::runtime_error& error) {
                std::cerr << error.what() << "; xlogo: " << window->Log() << "\n";
            }
        }
        ASSERT_FALSE(id.empty());
        start = Activate(id);
        session = StartSession();
        Sleep(1.0);
    }
    const double seconds = Seconds(Clock::now() - start);
    EXPECT_EQ(session->WaitForExit(std::chrono::seconds(10)), 0) << session->Log();
    EXPECT_NE(session->Log().find("the display went away"), std::string::npos) << session->Log();
    WaitDelivered();
    EXPECT_NEAR(ByTitle()["qv-last"].durationMs / 1000.0, seconds, 0.5);
}

// What the adapter itself reports, read in this process.
struct Seen : recorder::DesktopEvents {
    void FrontChanged(const std::optional<recorder::FrontWindow>& window, recorder::SteadyTime) override {
        front = window;
    }
    void Input(recorder::InputKind kind, recorder::SteadyTime) override {
        ++(kind == recorder::InputKind::Mouse ? mouse : keyboard);
    }
    void Away(recorder::SteadyTime) override {}
    void Back(recorder::SteadyTime) override {}
    void DisplayGone() override {}
    std::optional<recorder::FrontWindow> front;
    int keyboard = 0, mouse = 0;
};

TEST_F(SessionOnX11, TheAdapterReadsTitlesOfAnyTypeIconsAndWheelAndPointerMotion) {
    const std::string id = Window("qv-adapter");
    RunProgram({"xprop", "-id", id, "-f", "_NET_WM_NAME", "8s", "-set", "_NET_WM_NAME", "qv-string-title"});
    RunProgram({"xprop", "-id", id, "-f", "_NET_WM_ICON", "32c", "-set", "_NET_WM_ICON",
                "2,2,4278190335,4278190335,0,4278255360"});
    Activate(id);
    std::string whyNot;
    const auto adapter = recorder::OpenX11Adapter(whyNot);
    ASSERT_TRUE(adapter) << whyNot;
    Seen seen;
    adapter->Dispatch(seen);
    ASSERT_TRUE(seen.front);
    EXPECT_EQ(seen.front->title, "qv-string-title");
    EXPECT_EQ(seen.front->processName, "xlogo");
    EXPECT_EQ(seen.front->pid, windows_.back()->Pid());
    EXPECT_EQ(IconFileProblem(seen.front->icon), std::nullopt);

    // Two wheel notches; three moves at once (relative: a warp is no input), one stretch of motion; the pointer
    // goes back where it was.
    s().x->Xdotool({"click", "4", "click", "5", "mousemove_relative", "10", "10", "mousemove_relative", "10", "10",
                    "mousemove_relative", "--", "-20", "-20"});
    s().x->Xdotool({"set_window", "--name", "qv-renamed-adapter", id});
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while ((seen.mouse < 3 || seen.front->title != "qv-renamed-adapter") && Clock::now() < deadline) {
        pollfd fd{adapter->Fd(), POLLIN, 0};
        ::poll(&fd, 1, 100);
        adapter->Dispatch(seen);
    }
    EXPECT_EQ(seen.front->title, "qv-renamed-adapter");
    EXPECT_EQ(seen.mouse, 3);
    EXPECT_EQ(seen.keyboard, 0);
    ASSERT_TRUE(adapter->IdleTime());
    EXPECT_LT(*adapter->IdleTime(), std::chrono::seconds(5));
}

}  // namespace
}  // namespace qv::test
