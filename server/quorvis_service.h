// The service object: activation and the two operations of the wire
// contract. Stateless: every call names the class and interface again and
// the caller is checked again.
#pragma once

#include "access_policy.h"
#include "connection_pool.h"
#include "result_cursor.h"

#include "quorvis.grpc.pb.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace qv::server {

class QuorvisService final : public quorvis::v1::QuorvisService::Service {
 public:
  QuorvisService(ConnectionPool& pool, AccessPolicy policy) : m_pool(pool), m_policy(std::move(policy)) {}

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
  struct Refusal {
    std::int32_t hresult;
    std::string description;
  };
  using Opener = std::function<std::unique_ptr<ResultCursor>(Database&, const std::string& request)>;

  std::optional<Refusal> Check(const grpc::ServerContext& context, const std::string& classId,
                               const std::string& interfaceId, bool activation, const char* operation) const;
  grpc::Status Answer(grpc::ServerContext* context, const quorvis::v1::OperationRequest& request,
                      grpc::ServerWriter<quorvis::v1::ResultPart>* writer, const char* operation,
                      const Opener& open);

  ConnectionPool& m_pool;  // not owned
  AccessPolicy m_policy;
  std::mutex m_callsMutex;
  std::condition_variable m_callsDone;
  int m_calls = 0;
};

}  // namespace qv::server
