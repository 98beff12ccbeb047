// The daemon's channel to the Quorvis Service: TLS with the computer's
// certificate, the Record call with a deadline, and a way to abandon the
// call in flight when the daemon stops.
#pragma once

#include "proto/recording.grpc.pb.h"
#include "qvrecorder/tls_identity.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace qv::recorder {

class ServiceLink {
public:
    // server is HOST:PORT; the channel reconnects on its own, waiting at
    // most retryMax between attempts.
    ServiceLink(const std::string& server, const TlsIdentity& identity, std::chrono::seconds retryMax);

    grpc::Status Record(const quorvis::v1::RecordBatch& batch, quorvis::v1::RecordReply& reply,
                        std::chrono::seconds deadline);
    // Ends the call in flight, and every later one, with CANCELLED.
    void Cancel();
    // Starts connecting; true when the channel is up.
    bool Ready();

private:
    std::shared_ptr<grpc::Channel> channel_;
    std::unique_ptr<quorvis::v1::QuorvisRecorder::Stub> stub_;
    std::mutex mutex_;
    grpc::ClientContext* inFlight_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace qv::recorder
