// The service's own limits against a real qvservice: a caller that stops
// reading loses its call at the service's time limit, one caller cannot hold
// more calls than allowed but leaves the others theirs, and SIGTERM ends a
// stalled call within its grace while a large answer to another caller
// arrives whole.
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

namespace qv::test {
namespace {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows
const std::string kAllTitles = server::EncodeActivityRequest(3, 0, 0, 1, 0, 0);

// A Query for every title of program 1 that reads the header and then stops
// reading, as a hung viewer would.
class StalledReader {
 public:
  explicit StalledReader(const std::string& address)
      : stub_(pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()))) {
    context_.AddMetadata(std::string(contract::kUserMetadataKey), "carol");
    pb::OperationRequest request;
    request.set_class_id(std::string(contract::kClassId));
    request.set_interface_id(std::string(contract::kQueryInterfaceId));
    request.set_request(kAllTitles);
    reader_ = stub_->Query(&context_, request);
    pb::ResultPart header;
    started_ = reader_->Read(&header) && header.header().hresult() == 0;
  }
  bool Started() const { return started_; }
  // Reads what is left; the call's final status.
  grpc::Status Drain() {
    pb::ResultPart part;
    while (reader_->Read(&part)) {
    }
    return reader_->Finish();
  }

 private:
  std::unique_ptr<pb::QuorvisService::Stub> stub_;
  grpc::ClientContext context_;
  std::unique_ptr<grpc::ClientReader<pb::ResultPart>> reader_;
  bool started_ = false;
};

std::int32_t ProgramInfoStatus(ServiceClient& client, const std::string& user) {
  const Answer answer = client.ProgramInfo(server::EncodeProgramInfoRequest(1), {user});
  EXPECT_TRUE(answer.status.ok()) << answer.status.error_message();
  return answer.hresult;
}

TEST(CallLimits, AStalledCallerLosesItsCallAtTheLimitAndSigtermEndsOneAfterItsGrace) {
  TempDir dir;
  const std::string store = dir.File("titles.db");
  WriteManyTitles(store, kTitles);
  {
    // The limit leaves room for the first row of the large answer, also in a
    // sanitizer build.
    const auto process = Serve(store, {"--call-timeout", "3", "--max-calls-per-caller", "1"});
    const std::string address = process->WaitUntilListening();
    ASSERT_FALSE(address.empty()) << process->Log();
    ServiceClient client(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    StalledReader stalled(address);
    ASSERT_TRUE(stalled.Started());
    EXPECT_EQ(ProgramInfoStatus(client, "carol"), contract::kServerTooBusy);
    EXPECT_EQ(ProgramInfoStatus(client, "dave"), contract::kOk) << "the limit is each caller's own";

    // The slot comes back once the service has ended the stalled call.
    const auto limit = std::chrono::steady_clock::now() + 30s;
    std::int32_t status = contract::kServerTooBusy;
    while (status == contract::kServerTooBusy && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(10ms);
      status = ProgramInfoStatus(client, "carol");
    }
    EXPECT_EQ(status, contract::kOk);
    EXPECT_FALSE(stalled.Drain().ok());
    EXPECT_EQ(process->Stop(SIGTERM), 0);
    EXPECT_NE(process->Log().find("Query from 'carol' ended at the call time limit of 3 s"), std::string::npos)
        << process->Log();
  }

  const auto process = Serve(store);
  const std::string address = process->WaitUntilListening();
  ASSERT_FALSE(address.empty()) << process->Log();
  StalledReader stalled(address);
  ASSERT_TRUE(stalled.Started());
  // Every row once, in full batches, the titles' bytes as stored (odd ones are not UTF-8).
  std::vector<bool> seen(kTitles + 1, false);
  std::size_t oddTitles = 0;
  const Answer whole = ServiceClient(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()))
                           .Query(kAllTitles, {}, [&](const pb::Row& row) {
                             const auto id = static_cast<std::size_t>(row.values(0).integer());
                             if (id < seen.size()) seen[id] = true;
                             oddTitles += row.values(1).bytes().ends_with(" \xFF") ? 1 : 0;
                           });
  ASSERT_TRUE(whole.status.ok()) << whole.status.error_message();
  EXPECT_EQ(whole.rowCount, kTitles);
  EXPECT_EQ(whole.batches, kTitles / contract::kRowsPerBatch);
  EXPECT_EQ(oddTitles, kTitles / 2);
  EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), static_cast<std::ptrdiff_t>(kTitles));
  EXPECT_EQ(process->Stop(SIGTERM), 0) << process->Log();
  EXPECT_FALSE(stalled.Drain().ok());
}

TEST(CallLimits, LimitsMustBeWholeNumbersFromOneToTheirMost) {
  for (const auto& [option, aboveMost] : {std::pair{"--call-timeout", "604801"},
                                          std::pair{"--max-calls-per-caller", "100001"},
                                          std::pair{"--db-connections", "10001"}}) {
    for (const char* bad : {"0", "-1", "1.5", "many", "9999999999", aboveMost}) {
      const ToolResult result = RunQvservice({"serve", "--store", "x.db", option, bad});
      EXPECT_EQ(result.exitCode, 2) << option << " " << bad;
      EXPECT_NE(result.err.find(std::string(option) + " takes a whole number from 1 to "), std::string::npos)
          << result.err;
    }
  }
}

}  // namespace
}  // namespace qv::test
