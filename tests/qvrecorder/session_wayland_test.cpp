// The session recorder under a real headless sway, handing its records to a
// real daemon and service: front windows and their titles become records,
// with counts of 0, as Wayland gives no program a way to count input.
#include "tests/support/headless_sway.h"
#include "tests/support/recorder_daemon.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <thread>

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Stretches {
    double seconds = 0;
    std::int64_t events = 0;
    std::string processes;
};

// Per window title: the stored time, the keyboard and mouse events, and the process names.
std::map<std::string, Stretches> StoredByTitle(const std::string& store) {
    std::map<std::string, Stretches> byTitle;
    for (const StoredActivity& row : ReadStoredActivity(store)) {
        Stretches& s = byTitle[row.title];
        s.seconds += static_cast<double>(row.durationMs) / 1000.0;
        s.events += row.keyboard + row.mouse;
        s.processes += row.process + " ";
    }
    return byTitle;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

TEST(SessionOnWayland, RecordsTheFrontWindowsAndTheirTitlesWithCountsOfZero) {
    if (const std::string missing = HeadlessSway::Missing(); !missing.empty()) GTEST_SKIP() << missing;
    TempDir dir;
    const std::string certs = CopyTestCertificates(dir);
    const std::string store = dir.File("store.db");
    ASSERT_EQ(RunQvservice({"init", "--store", store}).exitCode, 0);
    const auto service = ServeRecording(store, certs);
    const std::string address = service->ListeningAddress();

    HeadlessSway sway;
    // In sway's runtime folder, where its user (nobody, when the test runs as root) reaches it.
    const std::string socket = sway.File("relay.socket");
    WriteFile(dir.File("empty.conf"), "");
    BackgroundProcess daemon(RecorderDaemonCommand("localhost:" + address.substr(address.rfind(':') + 1), certs, socket,
                                                   dir.File("spool"), dir.File("empty.conf")));
    ASSERT_TRUE(daemon.WaitForLog("listening on ")) << daemon.Log();

    const std::string rename = sway.File("rename");
    BackgroundProcess one(sway.InSession({"foot", "--app-id=qv-one", "--title=First", "sh", "-c", "exec sleep 600"}));
    BackgroundProcess two(sway.InSession({"foot", "--app-id=qv-two", "--title=Second", "sh", "-c",
                                          "while [ ! -e " + rename +
                                              " ]; do sleep 0.05; done; printf '\\033]2;Renamed\\007'; "
                                              "exec sleep 600"}));
    const auto focus = [&](const std::string& app) {
        for (int i = 0; i < 200; ++i) {  // until the window is there
            if (sway.Message({"[app_id=\"" + app + "\"] focus"}).exitCode == 0) return Clock::now();
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "no window " << app << ":\n" << one.Log() << two.Log();
        return Clock::now();
    };
    focus("qv-one");
    const auto started = focus("qv-two");
    BackgroundProcess session(
        sway.InSession({sway.Install(QVRECORDER_PATH), "session", "--socket", socket, "--idle", "600"}));
    ASSERT_TRUE(session.WaitForLog("recording the session")) << session.Log();
    std::string status;
    for (int i = 0; i < 100 && status.find("input not counted") == std::string::npos; ++i) {
        status = RunProgram({QVRECORDER_PATH, "status", "--socket", socket}).out;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(status.find("\nsessions 1\n"), std::string::npos) << status;
    EXPECT_NE(status.find(": Wayland (sway), input not counted"), std::string::npos) << status;

    std::this_thread::sleep_for(1s);
    const auto firstFront = focus("qv-one");
    std::this_thread::sleep_for(2s);
    const auto secondFront = focus("qv-two");
    std::this_thread::sleep_for(2s);
    const auto renamed = Clock::now();
    WriteFile(rename, "");
    std::this_thread::sleep_for(1500ms);
    const auto stopped = Clock::now();
    session.Stop(SIGTERM);  // as at logout: the open record is handed over first

    for (int i = 0; i < 400 && !StoredByTitle(store).contains("Renamed"); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(RecorderStatusSays(socket, "waiting 0")) << daemon.Log();
    const auto stored = StoredByTitle(store);
    ASSERT_EQ(stored.size(), 3u) << session.Log() << daemon.Log();
    // The session began with Second in front somewhere between its focus and the recorder's start.
    const double secondBefore = Seconds(firstFront - started);
    EXPECT_NEAR(stored.at("First").seconds, Seconds(secondFront - firstFront), 0.5);
    EXPECT_LE(stored.at("Second").seconds, secondBefore + Seconds(renamed - secondFront) + 1.0);
    EXPECT_GE(stored.at("Second").seconds, Seconds(renamed - secondFront) - 0.5);
    EXPECT_NEAR(stored.at("Renamed").seconds, Seconds(stopped - renamed), 0.5) << "a title change makes a new row";
    for (const auto& [title, stretches] : stored) {
        EXPECT_EQ(stretches.events, 0) << title << ": Wayland gives no input to count";
        EXPECT_NE(stretches.processes.find("foot"), std::string::npos) << title << ": " << stretches.processes;
    }
}

}  // namespace
}  // namespace qv::test
