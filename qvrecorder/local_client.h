// A local program's connection to the computer's qvrecorder daemon: what
// send and status use, and what a session recorder uses to hand over its
// records. One request at a time; not thread-safe.
#pragma once

#include "proto/relay.pb.h"
#include "qvrecorder/relay_protocol.h"

#include <sys/un.h>

#include <chrono>
#include <optional>
#include <string>

namespace qv::recorder {

class LocalClient {
public:
    // Connects; throws RelayError naming the socket when no daemon answers.
    // A session recorder's hello is said on each connection, the first and
    // those that SendUntilAnswered makes again, and such a connection waits at
    // most 5 seconds for an answer.
    explicit LocalClient(std::string socketPath, std::optional<quorvis::relay::v1::SessionHello> hello = {});
    ~LocalClient();
    LocalClient(const LocalClient&) = delete;
    LocalClient& operator=(const LocalClient&) = delete;

    // At most kMaxRelayRecords records and kMaxRelayMessageBytes in all;
    // throws RelayError when the daemon does not answer.
    quorvis::relay::v1::SendReply Send(const quorvis::relay::v1::SendRequest& request);
    // For a request that names its sender and number (which the daemon takes
    // once): when the daemon goes away before it answers, as in a restart,
    // connects again and sends it again until it answers or patience ends.
    quorvis::relay::v1::SendReply SendUntilAnswered(const quorvis::relay::v1::SendRequest& request,
                                                    std::chrono::seconds patience);
    quorvis::relay::v1::StatusReply Status();

private:
    quorvis::relay::v1::RelayReply Call(const quorvis::relay::v1::RelayRequest& request);
    void Connect();

    std::string path_;
    std::optional<quorvis::relay::v1::SessionHello> hello_;
    int fd_ = -1;
};

// A Unix socket address for path; throws RelayError when it is too long.
sockaddr_un UnixAddress(const std::string& path);

}  // namespace qv::recorder
