#include "qvrecorder/local_server.h"

#include "qvrecorder/local_client.h"
#include "records/log.h"

#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace qv::recorder {

using quorvis::relay::v1::RelayReply;
using quorvis::relay::v1::RelayRequest;

namespace {

// Once a message has started, the rest must come within this; a sender may
// stay idle between messages for as long as it likes.
constexpr timeval kMidMessageTimeout{30, 0};

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string LoginName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
    return found->pw_name;
}

// Removes a socket file no daemon answers on; refuses anything else.
void ClearStaleSocket(const std::string& path, const sockaddr_un& address) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return;
        throw std::runtime_error(Errno("cannot look at " + path));
    }
    if (!S_ISSOCK(status.st_mode)) throw std::runtime_error(path + " exists and is not a socket; not replacing it");
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) throw std::runtime_error(Errno("cannot make a socket"));
    const bool answers = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    ::close(probe);
    if (answers) throw std::runtime_error("another qvrecorder daemon answers on " + path);
    if (error != ECONNREFUSED)
        throw std::runtime_error("cannot check the socket " + path + ": " + std::strerror(error));
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw std::runtime_error(Errno("cannot remove the stale socket " + path));
    }
    LogLine("replaced the stale socket " + path + " of a daemon that is gone");
}

}  // namespace

LocalServer::LocalServer(std::string path, Handler handler, Closed closed)
    : path_(std::move(path)), handler_(std::move(handler)), closed_(std::move(closed)) {
    const sockaddr_un address = UnixAddress(path_);
    ClearStaleSocket(path_, address);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct stat status {};
    if (stopFd_ < 0 || listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::lstat(path_.c_str(), &status) != 0 || ::chmod(path_.c_str(), 0666) != 0 || ::listen(listenFd_, 128) != 0) {
        const std::string error = Errno("cannot listen on " + path_);
        if (status.st_ino != 0) ::unlink(path_.c_str());
        if (listenFd_ >= 0) ::close(listenFd_);
        if (stopFd_ >= 0) ::close(stopFd_);
        throw std::runtime_error(error);
    }
    device_ = status.st_dev;
    inode_ = status.st_ino;
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LocalServer::~LocalServer() {
    Stop();
    // Only this server's file: another daemon may have replaced it meanwhile.
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
    ::close(listenFd_);
    ::close(stopFd_);
}

void LocalServer::Stop() {
    {
        const std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
    }
    const std::uint64_t one = 1;
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {}
    acceptor_.join();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return connections_ == 0; });
}

void LocalServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            LogLine(Errno("the local socket failed"));
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors and the like: the next connection may fare better.
            if (errno != EINTR && errno != ECONNABORTED) poll(nullptr, 0, 100);
            continue;
        }
        {
            const std::lock_guard lock(mutex_);
            if (connections_ >= kMaxConnections) {
                ::close(fd);
                continue;
            }
            ++connections_;
        }
        try {
            std::thread([this, fd, number = ++lastConnection_] { Serve(fd, number); }).detach();
        } catch (const std::system_error&) {
            ::close(fd);
            const std::lock_guard lock(mutex_);
            --connections_;
        }
    }
}

void LocalServer::Serve(int fd, std::uint64_t number) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kMidMessageTimeout, sizeof kMidMessageTimeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kMidMessageTimeout, sizeof kMidMessageTimeout);
        const Sender sender{peer.uid, peer.uid == 0, LoginName(peer.uid), peer.pid, number};
        try {
            for (;;) {
                pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
                if (fds[1].revents != 0) break;
                if (fds[0].revents == 0) continue;
                RelayRequest request;
                if (!ReadMessage(fd, request)) break;
                RelayReply reply;
                if (request.kind_case() == RelayRequest::KIND_NOT_SET) {
                    reply.set_error("a request that is neither send, status nor a session's hello");
                } else if (request.send().records_size() > kMaxRelayRecords) {
                    reply.set_error("more than " + std::to_string(kMaxRelayRecords) + " records in one message");
                } else {
                    reply = handler_(request, sender);
                }
                WriteMessage(fd, reply);
            }
        } catch (const std::exception& error) {
            LogLine("a local connection of " + Printable(sender.login) + " (uid " + std::to_string(peer.uid) +
                    ") ended: " + error.what());
        }
        if (closed_) closed_(sender);
    }
    ::close(fd);
    const std::lock_guard lock(mutex_);
    if (--connections_ == 0) idle_.notify_all();
}

}  // namespace qv::recorder
