// A caller that claims a new name for every call must not gain more calls
// by it: without client certificates, callers are counted by address too.
#include "proto/qv_contract.h"
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include "proto/quorvis.grpc.pb.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace pb = quorvis::v1;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows

// A Query under the name that reads the header and then stops reading, so
// that the service's worker stays blocked on it.
class StalledReader {
  public:
    StalledReader(pb::QuorvisService::Stub& stub, const std::string& name) {
        context_.AddMetadata(std::string(qv::contract::kUserMetadataKey), name);
        pb::OperationRequest request;
        request.set_class_id(std::string(qv::contract::kClassId));
        request.set_interface_id(std::string(qv::contract::kQueryInterfaceId));
        request.set_request(qv::server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
        reader_ = stub.Query(&context_, request);
        pb::ResultPart header;
        if (reader_->Read(&header)) hresult_ = header.header().hresult();
    }
    ~StalledReader() { context_.TryCancel(); }
    std::int32_t HResult() const { return hresult_; }

  private:
    grpc::ClientContext context_;
    std::unique_ptr<grpc::ClientReader<pb::ResultPart>> reader_;
    std::int32_t hresult_ = -1;
};

TEST(CallerLimitsAbuse, NewNamesFromOneAddressGetNoMoreCalls) {
    TempDir dir;
    const std::string store = dir.File("titles.db");
    qv::test::WriteManyTitles(store, kTitles);
    qv::test::ServiceProcess process({"serve", "--store", store, "--listen", "127.0.0.1:0", "--max-calls-per-caller",
                                      "2", "--max-calls-per-address", "3"});
    const std::string address = process.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << process.Log();
    // Connections of their own, as a client opens many, from one address.
    grpc::ChannelArguments own;
    own.SetInt("qv.test.own_connection", 1);
    auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    auto other = pb::QuorvisService::NewStub(
        grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), own));

    std::vector<std::unique_ptr<StalledReader>> held;
    for (const char* name : {"n1", "n2", "n3"}) {
        held.push_back(std::make_unique<StalledReader>(*stub, name));
        ASSERT_EQ(held.back()->HResult(), qv::contract::kOk) << name;
    }
    EXPECT_EQ(StalledReader(*other, "n4").HResult(), qv::contract::kServerTooBusy);
    held.clear();
    EXPECT_EQ(process.Stop(SIGTERM), 0) << process.Log();
}

}  // namespace
