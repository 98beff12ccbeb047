#include "qvrecorder/session/wayland/compositor_ipc.h"

#include "qvrecorder/session/wayland/json_reader.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qv::recorder {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 8;
constexpr std::uint32_t kGetTree = 4;

using Clock = std::chrono::steady_clock;

// One request and its answer on a compositor's socket, within a deadline.
class Connection {
public:
    Connection(std::string who, Clock::time_point deadline) : who_(std::move(who)), deadline_(deadline) {}
    ~Connection() {
        if (fd_ >= 0) close(fd_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Connect(const std::string& path, std::string& error) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.empty() || path.size() >= sizeof address.sun_path) {
            error = who_ + " has no usable path";
            return false;
        }
        std::memcpy(address.sun_path, path.data(), path.size());
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0 ||
            (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)) {
            error = "cannot connect to " + who_ + " " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

    bool Send(const char* data, std::size_t size, std::string& error) {
        while (size > 0) {
            if (!Wait(POLLOUT)) {
                error = who_ + " took no request";
                return false;
            }
            const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n < 0) {
                error = "cannot write to " + who_ + ": " + std::strerror(errno);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Up to size bytes; fewer only at the end of the stream, which is an
    // error unless untilEnd.
    bool Receive(std::string& into, std::size_t size, bool untilEnd, std::string& error) {
        while (size > 0) {
            if (!Wait(POLLIN)) {
                error = who_ + " did not answer in time";
                return false;
            }
            char buffer[65536];
            const ssize_t n = recv(fd_, buffer, std::min(size, sizeof buffer), 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n == 0 && untilEnd) return true;
            if (n <= 0) {
                error = n == 0 ? who_ + " closed in the middle of an answer"
                               : "cannot read " + who_ + ": " + std::strerror(errno);
                return false;
            }
            into.append(buffer, static_cast<std::size_t>(n));
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    bool Wait(short events) const {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
            if (left <= 0) return false;
            pollfd ready{fd_, events, 0};
            const int n = poll(&ready, 1, static_cast<int>(left));
            if (n > 0) return true;
            if (n < 0 && errno != EINTR) return false;
        }
    }

    std::string who_;
    Clock::time_point deadline_;
    int fd_ = -1;
};

pid_t Pid(const JsonValue* pid) {
    if (pid == nullptr || pid->type != JsonValue::Type::Number) return 0;
    const double value = pid->number;
    return value >= 1 && value < 1e9 && value == std::floor(value) ? static_cast<pid_t>(value) : 0;
}

bool IsTrue(const JsonValue* value) {
    return value != nullptr && value->type == JsonValue::Type::Bool && value->boolean;
}

void CollectSwayViews(const JsonValue& node, std::vector<WindowView>& views) {
    if (const pid_t pid = Pid(node.Find("pid")); pid != 0) {
        WindowView view;
        view.pid = pid;
        view.appId = node.String("app_id");
        if (view.appId.empty()) {
            if (const JsonValue* x11 = node.Find("window_properties")) view.appId = x11->String("class");
        }
        view.title = node.String("name");
        view.focused = IsTrue(node.Find("focused"));
        views.push_back(std::move(view));
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        const JsonValue* list = node.Find(children);
        if (list == nullptr || list->type != JsonValue::Type::Array) continue;
        for (const JsonValue& child : list->items) CollectSwayViews(child, views);
    }
}

std::optional<JsonValue> Parse(std::string_view json, JsonValue::Type type, const std::string& what,
                               std::string& error) {
    std::string why;
    std::optional<JsonValue> value = ParseJson(json, why);
    if (!value || value->type != type) {
        error = what + (type == JsonValue::Type::Object ? " is not a JSON object" : " is not a JSON array") +
                (why.empty() ? std::string() : ": " + why);
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::vector<WindowView>> ParseSwayTree(std::string_view json, std::string& error) {
    const auto tree = Parse(json, JsonValue::Type::Object, "sway's tree", error);
    if (!tree) return std::nullopt;
    std::vector<WindowView> views;
    CollectSwayViews(*tree, views);
    return views;
}

std::optional<std::vector<WindowView>> ParseHyprlandClients(std::string_view json, std::string& error) {
    const auto clients = Parse(json, JsonValue::Type::Array, "Hyprland's client list", error);
    if (!clients) return std::nullopt;
    std::vector<WindowView> views;
    for (const JsonValue& client : clients->items) {
        const pid_t pid = Pid(client.Find("pid"));
        if (pid == 0) continue;
        const JsonValue* history = client.Find("focusHistoryID");
        // 0 in the focus history: the window focused last.
        const bool focused = history != nullptr && history->type == JsonValue::Type::Number && history->number == 0;
        views.push_back({pid, client.String("class"), client.String("title"), focused});
    }
    return views;
}

std::optional<std::vector<WindowView>> SwayViews(const std::string& socketPath, std::string& error,
                                                 std::chrono::milliseconds limit) {
    Connection connection("sway's IPC socket", Clock::now() + limit);
    if (!connection.Connect(socketPath, error)) return std::nullopt;
    char header[kHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    const std::uint32_t length = 0;
    std::memcpy(header + sizeof kMagic, &length, 4);
    std::memcpy(header + sizeof kMagic + 4, &kGetTree, 4);
    if (!connection.Send(header, sizeof header, error)) return std::nullopt;

    std::string answer;
    if (!connection.Receive(answer, kHeaderSize, false, error)) return std::nullopt;
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    std::memcpy(&size, answer.data() + sizeof kMagic, 4);
    std::memcpy(&type, answer.data() + sizeof kMagic + 4, 4);
    if (answer.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0 || type != kGetTree) {
        error = "sway's IPC socket answered with something other than a tree";
        return std::nullopt;
    }
    if (size > kMaxIpcReply) {
        error = "sway's tree is larger than " + std::to_string(kMaxIpcReply >> 20) + " MiB";
        return std::nullopt;
    }
    answer.clear();
    if (!connection.Receive(answer, size, false, error)) return std::nullopt;
    return ParseSwayTree(answer, error);
}

std::optional<std::vector<WindowView>> HyprlandViews(const std::string& socketPath, std::string& error,
                                                     std::chrono::milliseconds limit) {
    Connection connection("Hyprland's socket", Clock::now() + limit);
    if (!connection.Connect(socketPath, error)) return std::nullopt;
    constexpr std::string_view kRequest = "j/clients";
    if (!connection.Send(kRequest.data(), kRequest.size(), error)) return std::nullopt;
    // Hyprland closes the connection after its answer.
    std::string answer;
    if (!connection.Receive(answer, kMaxIpcReply + 1, true, error)) return std::nullopt;
    if (answer.size() > kMaxIpcReply) {
        error = "Hyprland's client list is larger than " + std::to_string(kMaxIpcReply >> 20) + " MiB";
        return std::nullopt;
    }
    return ParseHyprlandClients(answer, error);
}

std::string HyprlandSocket() {
    const char* signature = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
    if (signature == nullptr || *signature == '\0' || std::strchr(signature, '/') != nullptr) return {};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string tail = std::string("/hypr/") + signature + "/.socket.sock";
    if (runtime != nullptr && *runtime != '\0' && access((runtime + tail).c_str(), F_OK) == 0) return runtime + tail;
    return "/tmp" + tail;
}

}  // namespace qv::recorder
