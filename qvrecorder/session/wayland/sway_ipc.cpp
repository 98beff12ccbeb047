#include "qvrecorder/session/wayland/sway_ipc.h"

#include "qvrecorder/session/wayland/json_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

namespace qv::recorder {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 8;
constexpr std::uint32_t kGetTree = 4;

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

using Clock = std::chrono::steady_clock;

// Waits for the socket to be ready until the deadline; false when it passes.
bool Wait(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd ready{fd, events, 0};
        const int n = poll(&ready, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

bool SendAll(int fd, const char* data, std::size_t size, Clock::time_point deadline, std::string& error) {
    while (size > 0) {
        if (!Wait(fd, POLLOUT, deadline)) {
            error = "sway's IPC socket took no request";
            return false;
        }
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            error = std::string("cannot write to sway's IPC socket: ") + std::strerror(errno);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, char* data, std::size_t size, Clock::time_point deadline, std::string& error) {
    while (size > 0) {
        if (!Wait(fd, POLLIN, deadline)) {
            error = "sway's IPC socket did not answer in time";
            return false;
        }
        const ssize_t n = recv(fd, data, size, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            error = n == 0 ? "sway's IPC socket closed in the middle of a reply"
                           : std::string("cannot read sway's IPC socket: ") + std::strerror(errno);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void CollectViews(const JsonValue& node, std::vector<SwayView>& views) {
    const JsonValue* pid = node.Find("pid");
    if (pid != nullptr && pid->type == JsonValue::Type::Number && pid->number >= 1 && pid->number < 1e9 &&
        pid->number == std::floor(pid->number)) {
        SwayView view;
        view.pid = static_cast<pid_t>(pid->number);
        view.appId = node.String("app_id");
        if (view.appId.empty()) {
            if (const JsonValue* x11 = node.Find("window_properties")) view.appId = x11->String("class");
        }
        view.title = node.String("name");
        const JsonValue* focused = node.Find("focused");
        view.focused = focused != nullptr && focused->type == JsonValue::Type::Bool && focused->boolean;
        views.push_back(std::move(view));
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        const JsonValue* list = node.Find(children);
        if (list == nullptr || list->type != JsonValue::Type::Array) continue;
        for (const JsonValue& child : list->items) CollectViews(child, views);
    }
}

}  // namespace

std::optional<std::vector<SwayView>> ParseSwayTree(std::string_view json, std::string& error) {
    std::string why;
    const std::optional<JsonValue> tree = ParseJson(json, why);
    if (!tree || tree->type != JsonValue::Type::Object) {
        error = "sway's tree is not a JSON object" + (why.empty() ? std::string() : ": " + why);
        return std::nullopt;
    }
    std::vector<SwayView> views;
    CollectViews(*tree, views);
    return views;
}

std::optional<std::vector<SwayView>> SwayViews(const std::string& socketPath, std::string& error,
                                               std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        error = "SWAYSOCK is not a usable socket path";
        return std::nullopt;
    }
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.Fd() < 0 || connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot connect to sway's IPC socket " + socketPath + ": " + std::strerror(errno);
        return std::nullopt;
    }

    char header[kHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    const std::uint32_t length = 0;
    std::memcpy(header + sizeof kMagic, &length, 4);
    std::memcpy(header + sizeof kMagic + 4, &kGetTree, 4);
    if (!SendAll(socket.Fd(), header, sizeof header, deadline, error)) return std::nullopt;

    if (!ReceiveAll(socket.Fd(), header, sizeof header, deadline, error)) return std::nullopt;
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    std::memcpy(&size, header + sizeof kMagic, 4);
    std::memcpy(&type, header + sizeof kMagic + 4, 4);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || type != kGetTree) {
        error = "sway's IPC socket answered with something other than a tree";
        return std::nullopt;
    }
    if (size > kMaxSwayReply) {
        error = "sway's tree is larger than " + std::to_string(kMaxSwayReply >> 20) + " MiB";
        return std::nullopt;
    }
    std::string reply(size, '\0');
    if (!ReceiveAll(socket.Fd(), reply.data(), reply.size(), deadline, error)) return std::nullopt;
    return ParseSwayTree(reply, error);
}

std::string ProcessName(pid_t pid) {
    if (pid <= 0) return {};
    const std::string dir = "/proc/" + std::to_string(pid);
    char target[4096];
    const ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<std::size_t>(n));
        // A program replaced while it runs (an upgrade) keeps its name.
        constexpr std::string_view kDeleted = " (deleted)";
        if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
        const std::size_t slash = path.rfind('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (!name.empty()) return name;
    }
    std::ifstream comm(dir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

}  // namespace qv::recorder
