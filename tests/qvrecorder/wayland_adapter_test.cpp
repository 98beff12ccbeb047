// The Wayland adapter against a real sway of the test's own, with foot
// windows; it runs in wayland_adapter_probe, which prints what it reports.
// Its refusals are seen in process, one against a bare compositor.
#include "qvrecorder/session/wayland/wayland_adapter.h"
#include "tests/support/headless_sway.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <wayland-server-core.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace qv::test {
namespace {

using namespace std::chrono_literals;

// The probe prints on standard output; BackgroundProcess watches standard error.
// Without sway's IPC with withoutIpc, as on a compositor that has none.
std::vector<std::string> Probe(const HeadlessSway& sway, const std::string& idleLimitMs, bool withoutIpc = false) {
    std::vector<std::string> command{"sh", "-c", "exec \"$0\" \"$@\" 1>&2", sway.Install(WAYLAND_ADAPTER_PROBE_PATH),
                                     idleLimitMs};
    if (withoutIpc) command.insert(command.begin(), {"env", "-u", "SWAYSOCK"});
    return sway.InSession(command);
}

// The position after the first line from `from` on that starts with text; npos when none comes in time.
std::size_t WaitForLine(BackgroundProcess& probe, const std::string& text, std::size_t from,
                        std::chrono::seconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (std::size_t at = probe.Log().find(text, from); at != std::string::npos;
             at = probe.Log().find(text, at + 1)) {
            const std::size_t end = probe.Log().find('\n', at);
            if ((at == 0 || probe.Log()[at - 1] == '\n') && end != std::string::npos) return end + 1;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::string::npos;
        probe.WaitForLog("\x01", 50ms);  // reads what came meanwhile
    }
}

std::vector<std::string> Foot(const HeadlessSway& sway, const std::string& appId, const std::string& title,
                              const std::string& script) {
    return sway.InSession({"foot", "--app-id=" + appId, "--title=" + title, "sh", "-c", script});
}

TEST(WaylandAdapter, FollowsTheFrontWindowAndItsTitleUntilTheCompositorEnds) {
    if (const std::string missing = HeadlessSway::Missing(); !missing.empty()) GTEST_SKIP() << missing;
    HeadlessSway sway;
    BackgroundProcess probe(Probe(sway, "600000"));
    BackgroundProcess withoutIpc(Probe(sway, "600000", true));
    std::size_t at = 0;
    const auto next = [&](const std::string& line) { return (at = WaitForLine(probe, line, at)) != std::string::npos; };
    ASSERT_TRUE(next("open Wayland (sway) counts-input=no")) << probe.Log();
    ASSERT_TRUE(next("front none")) << probe.Log();

    BackgroundProcess one(Foot(sway, "qv-one", "First", "exec sleep 600"));
    ASSERT_TRUE(next("front app=qv-one title=First process=foot pid=yes")) << probe.Log() << one.Log();
    // The app id names the process when nothing else can.
    EXPECT_NE(WaitForLine(withoutIpc, "front app=qv-one title=First process=qv-one pid=no", 0), std::string::npos)
        << withoutIpc.Log();
    // The title changes once the file is there.
    const std::string rename = sway.File("rename");
    BackgroundProcess two(Foot(sway, "qv-two", "Second",
                               "while [ ! -e " + rename +
                                   " ]; do sleep 0.05; done; printf '\\033]2;Renamed\\007'; "
                                   "exec sleep 600"));
    ASSERT_TRUE(next("front app=qv-two title=Second process=foot pid=yes")) << probe.Log() << two.Log();

    ASSERT_EQ(sway.Message({"[app_id=\"qv-one\"] focus"}).exitCode, 0);
    ASSERT_TRUE(next("front app=qv-one title=First process=foot")) << probe.Log();
    ASSERT_EQ(sway.Message({"[app_id=\"qv-two\"] focus"}).exitCode, 0);
    ASSERT_TRUE(next("front app=qv-two title=Second process=foot")) << probe.Log();
    WriteFile(rename, "");
    ASSERT_TRUE(next("front app=qv-two title=Renamed process=foot pid=yes")) << probe.Log();

    two.Stop(SIGTERM);
    one.Stop(SIGTERM);
    ASSERT_TRUE(next("front none")) << probe.Log();
    sway.Process().Stop(SIGKILL);
    EXPECT_EQ(probe.WaitForExit(30s), 0) << probe.Log();
    EXPECT_TRUE(next("gone")) << probe.Log();
    EXPECT_EQ(probe.Log().find("\ninput\n"), std::string::npos) << "Wayland gives no input to count";
}

// sway headless has no input devices: the user is away after the limit,
// back when sway's own command moves the pointer, and away again.
TEST(WaylandAdapter, ReportsTheUserAwayAfterTheIdleLimitAndBackAtInput) {
    if (const std::string missing = HeadlessSway::Missing(); !missing.empty()) GTEST_SKIP() << missing;
    HeadlessSway sway;
    BackgroundProcess probe(Probe(sway, "2000"));
    std::size_t at = WaitForLine(probe, "open ", 0);
    ASSERT_NE(at, std::string::npos) << probe.Log();
    const auto opened = std::chrono::steady_clock::now();
    const std::size_t away = WaitForLine(probe, "away ", at);
    ASSERT_NE(away, std::string::npos) << probe.Log();
    EXPECT_GE(std::chrono::steady_clock::now() - opened, 1500ms) << "away before the idle limit passed";
    EXPECT_NEAR(std::atoll(probe.Log().c_str() + probe.Log().rfind("away ", away) + 5), 2000, 500) << probe.Log();

    ASSERT_EQ(sway.Message({"seat", "seat0", "cursor", "move", "5", "5"}).exitCode, 0);
    at = WaitForLine(probe, "back", away);
    ASSERT_NE(at, std::string::npos) << probe.Log();
    EXPECT_NE(WaitForLine(probe, "away ", at), std::string::npos) << probe.Log();
}

TEST(WaylandAdapter, SaysWhyItDoesNotApply) {
    std::string whyNot;
    test_util::ScopedEnv unset("WAYLAND_DISPLAY", nullptr);
    EXPECT_EQ(recorder::OpenWaylandAdapter(60s, whyNot), nullptr);
    EXPECT_NE(whyNot.find("WAYLAND_DISPLAY is not set"), std::string::npos) << whyNot;

    TempDir dir;
    {  // No desktop at all: the recorder names what it records, and its unit does not restart it.
        test_util::ScopedEnv noX("DISPLAY", nullptr);
        const ToolResult none = RunProgram({QVRECORDER_PATH, "session", "--socket", dir.File("socket")}, true);
        EXPECT_EQ(none.exitCode, 2) << none.out;
        EXPECT_NE(none.out.find("X11 desktops and Wayland compositors built on wlroots"), std::string::npos)
            << none.out;
    }
    test_util::ScopedEnv missing("WAYLAND_DISPLAY", dir.File("no-such-display").c_str());
    EXPECT_EQ(recorder::OpenWaylandAdapter(60s, whyNot), nullptr);
    EXPECT_NE(whyNot.find("cannot connect to the Wayland display " + dir.File("no-such-display")), std::string::npos)
        << whyNot;

    // A compositor with no foreign-toplevel manager, as GNOME's and KDE's are.
    wl_display* compositor = wl_display_create();
    ASSERT_NE(compositor, nullptr);
    const std::string socket = dir.File("wayland-bare");
    ASSERT_EQ(wl_display_add_socket(compositor, socket.c_str()), 0);
    std::atomic<bool> stop = false;
    std::thread serving([&] {
        while (!stop) {
            wl_event_loop_dispatch(wl_display_get_event_loop(compositor), 20);
            wl_display_flush_clients(compositor);
        }
    });
    test_util::ScopedEnv bare("WAYLAND_DISPLAY", socket.c_str());
    EXPECT_EQ(recorder::OpenWaylandAdapter(60s, whyNot), nullptr);
    EXPECT_NE(whyNot.find("offers no zwlr_foreign_toplevel_manager_v1"), std::string::npos) << whyNot;
    stop = true;
    serving.join();
    // The adapter's hang-up may not have been served yet.
    wl_display_destroy_clients(compositor);
    wl_display_destroy(compositor);
}

}  // namespace
}  // namespace qv::test
