// The service's own limits against a real qvservice: a caller that stops
// reading loses its call at the service's time limit, one caller cannot hold
// more calls than allowed, and SIGTERM ends a stalled call within its grace.
#include "proto/qv_contract.h"
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include "proto/quorvis.grpc.pb.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows

// A Query for every title of program 1 that reads the header and then stops
// reading, as a hung viewer would.
class StalledReader {
 public:
  explicit StalledReader(pb::QuorvisService::Stub& stub) {
    m_context.AddMetadata(std::string(qv::contract::kUserMetadataKey), "carol");
    pb::OperationRequest request;
    request.set_class_id(std::string(qv::contract::kClassId));
    request.set_interface_id(std::string(qv::contract::kQueryInterfaceId));
    request.set_request(qv::server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
    m_reader = stub.Query(&m_context, request);
    pb::ResultPart header;
    m_started = m_reader->Read(&header) && header.header().hresult() == 0;
  }
  bool Started() const { return m_started; }
  // Reads what is left; the call's final status.
  grpc::Status Drain() {
    pb::ResultPart part;
    while (m_reader->Read(&part)) {
    }
    return m_reader->Finish();
  }

 private:
  grpc::ClientContext m_context;
  std::unique_ptr<grpc::ClientReader<pb::ResultPart>> m_reader;
  bool m_started = false;
};

std::int32_t ProgramInfoStatus(qv::test::ServiceClient& client) {
  qv::test::CallIdentity carol;
  carol.user = "carol";
  const qv::test::Answer answer = client.ProgramInfo(qv::server::EncodeProgramInfoRequest(1), carol);
  EXPECT_TRUE(answer.status.ok()) << answer.status.error_message();
  return answer.hresult;
}

TEST(CallLimits, AStalledCallerLosesItsCallAtTheLimitAndItsSlotComesBack) {
  TempDir dir;
  const std::string store = dir.File("titles.db");
  qv::test::WriteManyTitles(store, kTitles);
  // The limit leaves room for the first row of the large answer, also in a
  // sanitizer build.
  qv::test::ServiceProcess process({"serve", "--store", store, "--listen", "127.0.0.1:0", "--call-timeout", "3",
                                    "--max-calls-per-caller", "1"});
  const std::string address = process.WaitUntilListening();
  ASSERT_FALSE(address.empty()) << process.Log();
  auto channel = grpc::CreateChannel(address, grpc::InsecureChannelCredentials());
  auto stub = pb::QuorvisService::NewStub(channel);
  qv::test::ServiceClient client(channel);

  StalledReader stalled(*stub);
  ASSERT_TRUE(stalled.Started());
  EXPECT_EQ(ProgramInfoStatus(client), qv::contract::kServerTooBusy);

  // The slot comes back once the service has ended the stalled call.
  const auto limit = std::chrono::steady_clock::now() + 30s;
  std::int32_t status = qv::contract::kServerTooBusy;
  while (status == qv::contract::kServerTooBusy && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(10ms);
    status = ProgramInfoStatus(client);
  }
  EXPECT_EQ(status, qv::contract::kOk);
  EXPECT_FALSE(stalled.Drain().ok());

  EXPECT_EQ(process.Stop(SIGTERM), 0);
  EXPECT_NE(process.Log().find("Query from 'carol' ended at the call time limit of 3 s"), std::string::npos)
      << process.Log();
}

TEST(CallLimits, SigtermEndsAStalledCallAfterItsGrace) {
  TempDir dir;
  const std::string store = dir.File("titles.db");
  qv::test::WriteManyTitles(store, kTitles);
  qv::test::ServiceProcess process({"serve", "--store", store, "--listen", "127.0.0.1:0"});
  const std::string address = process.WaitUntilListening();
  ASSERT_FALSE(address.empty()) << process.Log();
  auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));

  StalledReader stalled(*stub);
  ASSERT_TRUE(stalled.Started());
  EXPECT_EQ(process.Stop(SIGTERM), 0) << process.Log();
  EXPECT_FALSE(stalled.Drain().ok());
}

TEST(CallLimits, LimitsMustBeWholePositiveNumbers) {
  for (const char* bad : {"0", "-1", "1.5", "many", "9999999999"}) {
    for (const char* option : {"--call-timeout", "--max-calls-per-caller"}) {
      const qv::test::ToolResult result = qv::test::RunQvservice({"serve", "--store", "x.db", option, bad});
      EXPECT_EQ(result.exitCode, 2) << option << " " << bad;
      EXPECT_NE(result.err.find("takes a whole number"), std::string::npos) << result.err;
    }
  }
}

}  // namespace
