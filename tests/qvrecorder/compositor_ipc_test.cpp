// The compositors' IPC clients against fake compositors on a Unix socket:
// real answers are read, malformed ones are errors (the fuzz target tries
// the rest of what a JSON text can be).
#include "qvrecorder/session/wayland/compositor_ipc.h"
#include "qvrecorder/session/program_catalog.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <errno.h>  // program_invocation_short_name
#include <cstring>
#include <filesystem>
#include <thread>

namespace qv::recorder {
namespace {

using namespace std::chrono_literals;

std::string Header(std::uint32_t length, std::uint32_t type = 4, const char* magic = "i3-ipc") {
    std::string header(magic, 6);
    header.append(reinterpret_cast<const char*>(&length), 4);
    header.append(reinterpret_cast<const char*>(&type), 4);
    return header;
}

// A compositor that answers one request with these bytes and closes; it
// closes without a word when the request is not the one expected, and
// holds the connection silent with hold.
class FakeCompositor {
public:
    FakeCompositor(const std::string& path, std::string request, std::string answer, bool hold = false)
        : listener_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        unlink(path.c_str());
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 1) != 0) {
            throw std::runtime_error("cannot listen on " + path);
        }
        thread_ = std::thread([this, request = std::move(request), answer = std::move(answer), hold] {
            const int client = accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            std::string got(request.size(), '\0');
            std::size_t have = 0;
            for (ssize_t n; have < got.size() && (n = read(client, got.data() + have, got.size() - have)) > 0;) {
                have += static_cast<std::size_t>(n);
            }
            char ignored;
            // Held: until the client gives up.
            [[maybe_unused]] const ssize_t n = hold             ? read(client, &ignored, 1)
                                               : got == request ? write(client, answer.data(), answer.size())
                                                                : 0;
            close(client);
        });
    }
    ~FakeCompositor() {
        thread_.join();
        close(listener_);
    }

private:
    int listener_;
    std::thread thread_;
};

TEST(CompositorIpc, ReadsSwaysTreeAndHyprlandsClientsAndTurnsMalformedAnswersIntoErrors) {
    TempDir dir;
    const std::string path = dir.File("ipc.sock");
    const std::string json = R"({"name":"root","nodes":[{"name":"1","nodes":[{"name":"Caf\u00e9 \/ \"menu\"","pid":)" +
                             std::to_string(getpid()) + R"(,"app_id":"editor","focused":true,"nodes":[]}],
           "floating_nodes":[{"name":"X","pid":42,"app_id":null,"window_properties":{"class":"XTerm"}}]}]})";
    std::string error;
    {
        FakeCompositor sway(path, Header(0), Header(static_cast<std::uint32_t>(json.size())) + json);
        const auto views = SwayViews(path, error);
        ASSERT_TRUE(views && views->size() == 2) << error;
        EXPECT_EQ((*views)[0].pid, getpid());
        EXPECT_EQ((*views)[0].appId, "editor");
        EXPECT_EQ((*views)[0].title, "Café / \"menu\"");
        EXPECT_TRUE((*views)[0].focused);
        EXPECT_EQ((*views)[1].appId, "XTerm");  // an Xwayland window's class
        EXPECT_EQ(ProcessName(getpid()), program_invocation_short_name);
    }
    {
        FakeCompositor hyprland(path, "j/clients",
                                R"([{"class":"foot","title":"One","pid":7,"focusHistoryID":1,"workspace":{"id":1}},
                                    {"class":"firefox","title":"Two","pid":8,"focusHistoryID":0},{"pid":0}])");
        const auto views = HyprlandViews(path, error);
        ASSERT_TRUE(views && views->size() == 2) << error;  // none without a process
        EXPECT_FALSE((*views)[0].focused);
        EXPECT_EQ((*views)[1].appId, "firefox");
        EXPECT_TRUE((*views)[1].focused);
    }

    const struct {
        std::string answer;
        std::string error;
    } bad[] = {
        {Header(2, 4, "i3-ips") + "{}", "something other than a tree"},
        {Header(kMaxIpcReply + 1), "larger than 16 MiB"},
        {Header(100) + "{\"nodes\":", "closed in the middle"},
        {Header(5) + "{\"a\":", "not a JSON object: unexpected end"},
        {Header(100000) + std::string(100000, '['), "nesting too deep"},
    };
    for (const auto& each : bad) {
        FakeCompositor sway(path, Header(0), each.answer);
        EXPECT_FALSE(SwayViews(path, error));
        EXPECT_NE(error.find(each.error), std::string::npos) << error;
    }
    {
        FakeCompositor silent(path, Header(0), "", true);
        EXPECT_FALSE(SwayViews(path, error, 200ms));
        EXPECT_NE(error.find("did not answer in time"), std::string::npos) << error;
    }
    unlink(path.c_str());
    EXPECT_FALSE(HyprlandViews(path, error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
}

TEST(CompositorIpc, FindsHyprlandsSocketOnlyInItsOwnFolders) {
    TempDir dir;
    test_util::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.Path().c_str());
    test_util::ScopedEnv unset("HYPRLAND_INSTANCE_SIGNATURE", nullptr);
    EXPECT_EQ(HyprlandSocket(), "");
    test_util::ScopedEnv escaping("HYPRLAND_INSTANCE_SIGNATURE", "../escape");
    EXPECT_EQ(HyprlandSocket(), "");
    test_util::ScopedEnv signature("HYPRLAND_INSTANCE_SIGNATURE", "abc_1");
    EXPECT_EQ(HyprlandSocket(), "/tmp/hypr/abc_1/.socket.sock");  // where versions before 0.40 put it
    std::filesystem::create_directories(dir.File("hypr/abc_1"));
    WriteFile(dir.File("hypr/abc_1/.socket.sock"), "");
    EXPECT_EQ(HyprlandSocket(), dir.File("hypr/abc_1/.socket.sock"));
}

}  // namespace
}  // namespace qv::recorder
