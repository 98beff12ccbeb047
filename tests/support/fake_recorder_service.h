// An in-process QuorvisRecorder on loopback with the service's TLS (client certificates checked against the test
// recorder CA): it keeps every batch it is sent, and answers as the test tells it.
#pragma once

#include "proto/recording.grpc.pb.h"

#include <grpcpp/server.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qv::test {

struct ReceivedBatch {
    std::string peerName;  // the client certificate's common name
    std::string recorderId;
    std::uint64_t firstSequence = 0;
    std::vector<quorvis::v1::LiveRecord> records;
    std::vector<quorvis::v1::ProgramIcon> icons;
    grpc::StatusCode answer = grpc::StatusCode::OK;
};

class FakeRecorderService {
public:
    // certificates: a folder from CopyTestCertificates.
    explicit FakeRecorderService(const std::string& certificates);
    ~FakeRecorderService();
    FakeRecorderService(const FakeRecorderService&) = delete;
    FakeRecorderService& operator=(const FakeRecorderService&) = delete;

    const std::string& Address() const { return address_; }  // 127.0.0.1:PORT

    struct Script {
        grpc::StatusCode answer = grpc::StatusCode::OK;  // to the batches to come
        std::string refusedProcess;                      // INVALID_ARGUMENT to a batch with a record of it
        // As the service: listed in programs_without_icon until a batch answered OK brings its icon.
        std::set<std::string> lackingIcon;
        bool refuseIcons = false;  // INVALID_ARGUMENT to a batch with icons
        bool held = false;         // a call is kept (and counted) unanswered until released or cancelled
    };
    void Change(const std::function<void(Script&)>& change);

    std::vector<ReceivedBatch> Batches() const;
    // The records of the batches answered OK, in the order they came.
    std::vector<quorvis::v1::LiveRecord> Stored() const;
    // Waits until the condition holds for the batches; false when it still does not after the limit.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedBatch>&)>& condition,
                 std::chrono::milliseconds limit = std::chrono::seconds(60)) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<grpc::Server> server_;
    std::string address_;
};

}  // namespace qv::test
