#include "qvrecorder/local_client.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace qv::recorder {

using quorvis::relay::v1::RelayReply;
using quorvis::relay::v1::RelayRequest;

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        throw RelayError("the socket path " + path + " is empty or longer than " +
                         std::to_string(sizeof address.sun_path - 1) + " bytes");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

LocalClient::LocalClient(std::string socketPath, std::optional<quorvis::relay::v1::SessionHello> hello)
    : path_(std::move(socketPath)), hello_(std::move(hello)) {
    Connect();
}

void LocalClient::Connect() {
    if (fd_ >= 0) ::close(fd_);
    const sockaddr_un address = UnixAddress(path_);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw RelayError(std::string("cannot make a socket: ") + std::strerror(errno));
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        throw RelayError("no qvrecorder daemon answers on " + path_ + ": " + std::strerror(error));
    }
    if (!hello_) return;
    // A session recorder must not hang on a daemon that stopped answering: it sends the same message again.
    const timeval patience{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    RelayRequest request;
    *request.mutable_session() = *hello_;
    try {
        Call(request);
    } catch (const RelayError&) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

LocalClient::~LocalClient() {
    if (fd_ >= 0) ::close(fd_);
}

RelayReply LocalClient::Call(const RelayRequest& request) {
    RelayReply reply;
    try {
        WriteMessage(fd_, request);
        if (!ReadMessage(fd_, reply)) throw RelayError("it closed the connection");
    } catch (const RelayError& error) {
        throw RelayError("the qvrecorder daemon on " + path_ + " did not answer: " + error.what());
    }
    if (reply.kind_case() == RelayReply::kError) {
        throw RelayError("the qvrecorder daemon on " + path_ + " refused the request: " + reply.error());
    }
    return reply;
}

quorvis::relay::v1::SendReply LocalClient::Send(const quorvis::relay::v1::SendRequest& request) {
    RelayRequest wrapped;
    *wrapped.mutable_send() = request;
    RelayReply reply = Call(wrapped);
    if (reply.kind_case() != RelayReply::kSend) throw RelayError("the daemon on " + path_ + " answered out of turn");
    return reply.send();
}

quorvis::relay::v1::SendReply LocalClient::SendUntilAnswered(const quorvis::relay::v1::SendRequest& request,
                                                             std::chrono::seconds patience) {
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    for (;;) {
        try {
            if (fd_ < 0) Connect();
            return Send(request);
        } catch (const RelayError&) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = -1;
            if (std::chrono::steady_clock::now() >= giveUp) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

quorvis::relay::v1::StatusReply LocalClient::Status() {
    RelayRequest request;
    request.mutable_status();
    RelayReply reply = Call(request);
    if (reply.kind_case() != RelayReply::kStatus) throw RelayError("the daemon on " + path_ + " answered out of turn");
    return reply.status();
}

}  // namespace qv::recorder
