// The session's socket peers, scripted: compositors' IPC (the fuzz target tries odd JSON) and the hand-over's daemon.
#include "qvrecorder/local_client.h"
#include "qvrecorder/session/handover.h"
#include "qvrecorder/session/program_catalog.h"
#include "qvrecorder/session/wayland/compositor_ipc.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <errno.h>  // program_invocation_short_name
#include <filesystem>
#include <functional>
#include <thread>

namespace qv::recorder {
namespace {

using namespace std::chrono_literals;
using quorvis::relay::v1::RelayReply;
using quorvis::relay::v1::RelayRequest;

// Listens on the path and serves one connection after another with serve(fd), until it is destroyed.
class ScriptedPeer {
public:
    ScriptedPeer(const std::string& path, std::function<void(int)> serve)
        : listener_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        const sockaddr_un address = UnixAddress(path);
        ::unlink(path.c_str());
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) || ::listen(listener_, 4))
            throw std::runtime_error("cannot listen on " + path);
        thread_ = std::thread([this, serve = std::move(serve)] {
            for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(fd)) serve(fd);
        });
    }
    ~ScriptedPeer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }

private:
    int listener_;
    std::thread thread_;
};

std::string Header(std::uint32_t length, std::uint32_t type = 4, const char* magic = "i3-ipc") {
    std::string header(magic, 6);
    header.append(reinterpret_cast<const char*>(&length), 4);
    header.append(reinterpret_cast<const char*>(&type), 4);
    return header;
}

// Answers the expected request with these bytes and closes (any other: closes at once); with hold, stays silent.
ScriptedPeer FakeCompositor(const std::string& path, std::string request, std::string answer, bool hold = false) {
    return ScriptedPeer(path, [=](int client) {
        std::string got(request.size(), '\0');
        std::size_t have = 0;
        for (ssize_t n; have < got.size() && (n = read(client, got.data() + have, got.size() - have)) > 0;)
            have += static_cast<std::size_t>(n);
        char ignored;
        // Held: until the client gives up.
        [[maybe_unused]] const ssize_t n = hold             ? read(client, &ignored, 1)
                                           : got == request ? write(client, answer.data(), answer.size())
                                                            : 0;
    });
}

// pid, app id and title of each, * marking the focused one.
std::string Shown(const std::optional<std::vector<WindowView>>& views) {
    std::string text;
    for (const WindowView& v : views.value_or(std::vector<WindowView>{}))
        text += std::to_string(v.pid) + " " + v.appId + " " + v.title + (v.focused ? "*|" : "|");
    return text;
}

TEST(CompositorIpc, ReadsSwaysTreeAndHyprlandsClientsTurnsMalformedAnswersIntoErrorsAndFindsHyprlandsSocket) {
    TempDir dir;
    const std::string path = dir.File("ipc.sock");
    const std::string json = R"({"name":"root","nodes":[{"name":"1","nodes":[{"name":"Caf\u00e9 \/ \"menu\"","pid":)" +
                             std::to_string(getpid()) + R"(,"app_id":"editor","focused":true,"nodes":[]}],
           "floating_nodes":[{"name":"X","pid":42,"app_id":null,"window_properties":{"class":"XTerm"}}]}]})";
    std::string error;
    {
        const auto sway = FakeCompositor(path, Header(0), Header(static_cast<std::uint32_t>(json.size())) + json);
        EXPECT_EQ(Shown(SwayViews(path, error)), std::to_string(getpid()) + " editor Café / \"menu\"*|42 XTerm X|")
            << error;  // the second, an Xwayland window, by its class
        EXPECT_EQ(ProcessName(getpid()), program_invocation_short_name);
    }
    {
        const auto hyprland =
            FakeCompositor(path, "j/clients",
                           R"([{"class":"foot","title":"One","pid":7,"focusHistoryID":1,"workspace":{"id":1}},
                                    {"class":"firefox","title":"Two","pid":8,"focusHistoryID":0},{"pid":0}])");
        EXPECT_EQ(Shown(HyprlandViews(path, error)), "7 foot One|8 firefox Two*|") << error;  // none without a process
    }

    for (const auto& [answer, reason] : std::vector<std::pair<std::string, std::string>>{
             {Header(2, 4, "i3-ips") + "{}", "something other than a tree"},
             {Header(kMaxIpcReply + 1), "larger than 16 MiB"},
             {Header(100) + "{\"nodes\":", "closed in the middle"},
             {Header(5) + "{\"a\":", "not a JSON object: unexpected end"},
             {Header(100000) + std::string(100000, '['), "nesting too deep"}}) {
        const auto sway = FakeCompositor(path, Header(0), answer);
        EXPECT_FALSE(SwayViews(path, error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    {
        const auto silent = FakeCompositor(path, Header(0), "", true);
        EXPECT_FALSE(SwayViews(path, error, 200ms));
        EXPECT_NE(error.find("did not answer in time"), std::string::npos) << error;
    }
    unlink(path.c_str());
    EXPECT_FALSE(HyprlandViews(path, error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;

    // Hyprland's socket is found only in its own folders.
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

TEST(SessionHandover, SaysHelloOnEachConnectionResendsUnderItsNumberAndSavesRecordsFromABadIcon) {
    const TempDir dir;
    int sends = 0;
    std::string log;
    // The first message is lost with its connection; an icon is refused with the records beside it.
    const ScriptedPeer relay(dir.File("socket"), [&](int fd) {
        log += "connect ";
        try {
            for (RelayRequest request; ReadMessage(fd, request);) {
                RelayReply reply;
                reply.mutable_send();
                if (request.has_session()) {
                    log += "hello(" + request.session().adapter() + ") ";
                } else {
                    log += "#" + std::to_string(request.send().message_number()) + ":" +
                           std::to_string(request.send().records_size()) + "r" +
                           std::to_string(request.send().icons_size()) + "i ";
                    if (++sends == 1) break;
                    if (request.send().icons_size() > 0) reply.mutable_send()->set_refusal("a bad icon");
                }
                WriteMessage(fd, reply);
            }
        } catch (const RelayError&) {}
    });
    quorvis::relay::v1::SessionHello hello;
    hello.set_adapter("X11");
    Handover handover(dir.File("socket"), hello, 3);

    // Contents do not matter to the hand-over: it counts records and icons.
    handover.Add({}, std::nullopt);
    EXPECT_FALSE(handover.Pump());  // hung up: the message waits, numbered
    EXPECT_EQ(handover.Waiting(), 1u);
    handover.Add({}, quorvis::v1::ProgramIcon());
    EXPECT_TRUE(handover.Pump());
    handover.Add({}, quorvis::v1::ProgramIcon());
    for (int i = 0; i < 3; ++i) handover.Add({}, std::nullopt);
    EXPECT_EQ(handover.Dropped(), 1u);  // past the bound of 3 waiting, the newest is left out
    EXPECT_TRUE(handover.Flush(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
    EXPECT_EQ(log,
              "connect hello(X11) #1:1r0i "                  // no answer
              "connect hello(X11) #1:1r0i #2:1r1i #3:1r0i "  // #1 again; b's records alone after the refusal
              "#4:3r1i #5:3r0i ");
}

}  // namespace
}  // namespace qv::recorder
