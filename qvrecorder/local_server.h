// The daemon's Unix socket: every local user may connect (mode 0666); each
// connection's peer credentials tell who sends. One thread per connection,
// at most kMaxConnections at once: session recorders keep theirs open.
#pragma once

#include "proto/relay.pb.h"
#include "qvrecorder/admission.h"

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qv::recorder {

class LocalServer {
public:
    using Handler =
        // The request is the handler's to take apart.
        std::function<quorvis::relay::v1::RelayReply(quorvis::relay::v1::RelayRequest&, const Sender&)>;
    // Told of each connection's end, after its last request.
    using Closed = std::function<void(const Sender&)>;

    static constexpr int kMaxConnections = 256;

    // Listens on path: a stale socket file of a daemon that died is
    // replaced; a socket another daemon answers on is refused. Throws
    // std::runtime_error.
    LocalServer(std::string path, Handler handler, Closed closed = {});
    // Stops, and removes the socket file if it is still this server's.
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    // No new connections or requests; waits for the requests in hand.
    void Stop();

private:
    void AcceptLoop();
    void Serve(int fd, std::uint64_t number);

    std::string path_;
    Handler handler_;
    Closed closed_;
    int listenFd_ = -1;
    int stopFd_ = -1;  // an eventfd, readable once stopping
    dev_t device_ = 0;
    ino_t inode_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int connections_ = 0;
    std::uint64_t lastConnection_ = 0;
    bool stopped_ = false;
};

}  // namespace qv::recorder
