// The service object: activation and the two operations of the wire
// contract. Stateless: every call names the class and interface again and
// the caller is checked again.
#pragma once

#include "qvservice/query/result_cursor.h"
#include "qvservice/rpc/access_policy.h"
#include "qvservice/rpc/call_watchdog.h"
#include "qvservice/rpc/connection_pool.h"
#include "qvservice/rpc/recorder_identity.h"

#include "proto/quorvis.grpc.pb.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qv::server {

// A caller that stops reading must not hold a worker thread and a read
// snapshot for ever, nor may one caller take every worker. An operator's
// scripts run a few dozen reports at once under one name: that must pass.
inline constexpr std::chrono::seconds kDefaultCallTimeout{300};
inline constexpr int kDefaultMaxCallsPerCaller = 32;
// A claimed name costs nothing, so callers that claim theirs are also
// counted by address; two operators' scripts behind one address must pass.
inline constexpr int kDefaultMaxCallsPerAddress = 64;

struct CallLimits {
    std::chrono::seconds callTimeout = kDefaultCallTimeout;
    int maxCallsPerCaller = kDefaultMaxCallsPerCaller;
    int maxCallsPerAddress = kDefaultMaxCallsPerAddress;  // callers that claim their names
    int maxCalls = 0;  // of every caller together, so that some workers stay free; 0: unbounded
};

class QuorvisService final : public quorvis::v1::QuorvisService::Service {
public:
    // recorders: callers that may only record, refused here; null: none.
    QuorvisService(ConnectionPool& pool, AccessPolicy policy, CallLimits limits = {},
                   const RecorderIdentity* recorders = nullptr)
        : pool_(pool),
          policy_(std::move(policy)),
          limits_(limits),
          watchdog_(limits.callTimeout),
          recorders_(recorders) {}

    grpc::Status Activate(grpc::ServerContext* context, const quorvis::v1::ActivateRequest* request,
                          quorvis::v1::ActivateReply* reply) override;
    grpc::Status Query(grpc::ServerContext* context, const quorvis::v1::OperationRequest* request,
                       grpc::ServerWriter<quorvis::v1::ResultPart>* writer) override;
    grpc::Status QueryProgramInfo(grpc::ServerContext* context, const quorvis::v1::OperationRequest* request,
                                  grpc::ServerWriter<quorvis::v1::ResultPart>* writer) override;

    // Waits until no call is in flight, or until the deadline; true when idle.
    // Lets a stop end at once when nobody is being answered, since gRPC would
    // otherwise wait out its whole grace period for idle connections.
    bool WaitUntilIdle(std::chrono::steady_clock::time_point deadline);

private:
    class InFlight;
    class CallerSlot;
    struct Refusal {
        std::int32_t hresult;
        std::string description;
    };
    using Opener = std::function<std::unique_ptr<ResultCursor>(Database&, const std::string& request)>;

    std::optional<Refusal> Check(const grpc::ServerContext& context, const std::string& classId,
                                 const std::string& interfaceId, bool activation, const char* operation) const;
    grpc::Status Answer(grpc::ServerContext* context, const quorvis::v1::OperationRequest& request,
                        grpc::ServerWriter<quorvis::v1::ResultPart>* writer, const char* operation, const Opener& open);
    grpc::Status Stream(grpc::ServerContext* context, const quorvis::v1::OperationRequest& request,
                        grpc::ServerWriter<quorvis::v1::ResultPart>* writer, const char* operation, const Opener& open,
                        const CallWatchdog::Watch& watch);

    ConnectionPool& pool_;  // not owned
    AccessPolicy policy_;
    CallLimits limits_;
    CallWatchdog watchdog_;
    const RecorderIdentity* recorders_;  // not owned
    std::mutex callsMutex_;
    std::condition_variable callsDone_;
    int calls_ = 0;
    int operations_ = 0;  // operations only, here and below; activation is cheap
    std::map<std::string, int> callsByCaller_;
    std::map<std::string, int> callsByAddress_;
};

}  // namespace qv::server
