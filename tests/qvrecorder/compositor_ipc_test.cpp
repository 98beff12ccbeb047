// The compositors' IPC clients against fake compositors on a Unix socket,
// and the JSON reader under them: real answers are read, malformed ones are
// errors.
#include "qvrecorder/session/wayland/compositor_ipc.h"
#include "qvrecorder/session/wayland/json_reader.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <errno.h>  // program_invocation_short_name
#include <cstdlib>
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

TEST(SwayIpc, ReadsTheViewsOfATreeAndTurnsMalformedAnswersIntoErrors) {
    TempDir dir;
    const std::string path = dir.File("sway.sock");
    const std::string tree = std::to_string(getpid());
    const std::string json =
        R"({"id":1,"name":"root","nodes":[{"name":"1","nodes":[
             {"name":"Caf\u00e9 \/ \"menu\"","pid":)" +
        tree + R"(,"app_id":"editor","focused":true,"nodes":[]}],
           "floating_nodes":[{"name":"X","pid":42,"app_id":null,"focused":false,
             "window_properties":{"class":"XTerm"},"nodes":[]}]}]})";
    std::string error;
    {
        FakeCompositor sway(path, Header(0), Header(static_cast<std::uint32_t>(json.size())) + json);
        const auto views = SwayViews(path, error);
        ASSERT_TRUE(views) << error;
        ASSERT_EQ(views->size(), 2u);
        EXPECT_EQ((*views)[0].pid, getpid());
        EXPECT_EQ((*views)[0].appId, "editor");
        EXPECT_EQ((*views)[0].title, "Café / \"menu\"");
        EXPECT_TRUE((*views)[0].focused);
        EXPECT_EQ((*views)[1].appId, "XTerm");  // an Xwayland window's class
        EXPECT_FALSE((*views)[1].focused);
        EXPECT_EQ(ProcessName(getpid()), program_invocation_short_name);
    }

    const struct {
        std::string answer;
        std::string error;
    } bad[] = {
        {Header(2, 4, "i3-ips") + "{}", "something other than a tree"},
        {Header(2, 1) + "{}", "something other than a tree"},
        {Header(kMaxIpcReply + 1), "larger than 16 MiB"},
        {Header(100) + "{\"nodes\":", "closed in the middle"},
        {Header(5) + "{\"a\":", "not a JSON object"},
        {Header(2) + "[]", "not a JSON object"},
        {"i3", "closed in the middle"},
    };
    for (const auto& each : bad) {
        FakeCompositor sway(path, Header(0), each.answer);
        error.clear();
        EXPECT_FALSE(SwayViews(path, error));
        EXPECT_NE(error.find(each.error), std::string::npos) << error;
    }
    {
        FakeCompositor silent(path, Header(0), "", true);
        EXPECT_FALSE(SwayViews(path, error, 200ms));
        EXPECT_NE(error.find("did not answer in time"), std::string::npos) << error;
    }
    unlink(path.c_str());
    EXPECT_FALSE(SwayViews(path, error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_EQ(ProcessName(0), "");
}

TEST(HyprlandIpc, ReadsTheClientListAndFindsItsSocket) {
    TempDir dir;
    const std::string path = dir.File("hypr.sock");
    const std::string clients =
        R"([{"address":"0x1","class":"foot","title":"One","pid":7,"focusHistoryID":1,"workspace":{"id":1}},
            {"class":"firefox","title":"Two","pid":8,"focusHistoryID":0},{"class":"gone","pid":0}])";
    std::string error;
    {
        FakeCompositor hyprland(path, "j/clients", clients);
        const auto views = HyprlandViews(path, error);
        ASSERT_TRUE(views) << error;
        ASSERT_EQ(views->size(), 2u);  // no window without a process
        EXPECT_EQ((*views)[0].appId, "foot");
        EXPECT_FALSE((*views)[0].focused);
        EXPECT_EQ((*views)[1].title, "Two");
        EXPECT_EQ((*views)[1].pid, 8);
        EXPECT_TRUE((*views)[1].focused);
    }
    {
        FakeCompositor hyprland(path, "j/clients", "unknown request");
        EXPECT_FALSE(HyprlandViews(path, error));
        EXPECT_NE(error.find("not a JSON array"), std::string::npos) << error;
    }

    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = runtime != nullptr ? runtime : "";
    unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    EXPECT_EQ(HyprlandSocket(), "");
    setenv("HYPRLAND_INSTANCE_SIGNATURE", "../escape", 1);
    EXPECT_EQ(HyprlandSocket(), "");
    setenv("HYPRLAND_INSTANCE_SIGNATURE", "abc_1", 1);
    setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
    EXPECT_EQ(HyprlandSocket(), "/tmp/hypr/abc_1/.socket.sock");  // where versions before 0.40 put it
    std::filesystem::create_directories(dir.File("hypr/abc_1"));
    WriteFile(dir.File("hypr/abc_1/.socket.sock"), "");
    EXPECT_EQ(HyprlandSocket(), dir.File("hypr/abc_1/.socket.sock"));
    unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    if (runtime != nullptr) {
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

TEST(JsonReader, ReadsEscapesAndNumbersAndRefusesWhatIsNotJson) {
    std::string error;
    const auto value = ParseJson(R"( {"a":[1,-2.5e3,true,false,null],"s":"\ud83d\ude00\t\u0041","e":{}} )", error);
    ASSERT_TRUE(value) << error;
    const JsonValue* list = value->Find("a");
    ASSERT_TRUE(list != nullptr && list->items.size() == 5);
    EXPECT_EQ(list->items[1].number, -2500);
    EXPECT_TRUE(list->items[2].boolean);
    EXPECT_EQ(list->items[4].type, JsonValue::Type::Null);
    EXPECT_EQ(value->String("s"), "\xF0\x9F\x98\x80\tA");
    EXPECT_EQ(value->Find("e")->type, JsonValue::Type::Object);
    EXPECT_EQ(value->String("missing"), "");

    for (const std::string& bad :
         std::vector<std::string>{"", "{", "[1,]", "{\"a\" 1}", "\"open", "tru", "1 2", "{\"a\":01x}", "-", "\"\\q\"",
                                  "\"\\u12G4\"", "\"\\ud800\\u0041\"", "\"a\nb\"", std::string(100000, '[')}) {
        error.clear();
        EXPECT_FALSE(ParseJson(bad, error)) << bad.substr(0, 20);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace qv::recorder
