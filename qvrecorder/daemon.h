// The relay as a whole: the computer's identity, the spool, the forwarder
// and the local socket, and the answers to local requests.
#pragma once

#include "proto/relay.pb.h"
#include "qvrecorder/admission.h"
#include "qvrecorder/forwarder.h"
#include "qvrecorder/local_server.h"
#include "qvrecorder/options.h"
#include "qvrecorder/service_link.h"
#include "qvrecorder/spool.h"
#include "qvrecorder/tls_identity.h"

#include <map>
#include <memory>
#include <mutex>

namespace qv::recorder {

class Daemon {
public:
    // Starts forwarding and listening; throws std::runtime_error when it cannot.
    explicit Daemon(const DaemonOptions& options);
    // Takes no more records, abandons the batch in flight, closes the spool.
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    const std::string& Computer() const { return identity_.computer; }
    std::uint64_t Waiting() { return spool_.Counts().waiting; }

private:
    quorvis::relay::v1::RelayReply Handle(quorvis::relay::v1::RelayRequest& request, const Sender& sender);
    quorvis::relay::v1::SendReply Take(quorvis::relay::v1::SendRequest& request, const Sender& sender);
    void Hello(const quorvis::relay::v1::SessionHello& hello, const Sender& sender);
    void Closed(const Sender& sender);

    DaemonOptions options_;
    TlsIdentity identity_;
    AdmissionRules rules_;
    Spool spool_;
    ServiceLink link_;
    Forwarder forwarder_;
    std::mutex sessionsMutex_;
    // By connection: as many as the local server allows connections.
    std::map<std::uint64_t, quorvis::relay::v1::SessionInfo> sessions_;
    std::unique_ptr<LocalServer> server_;
};

}  // namespace qv::recorder
