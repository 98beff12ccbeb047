// A caller that claims a new name for every call must not gain more calls
// by it: without client certificates, callers are counted by address too.
#include "proto/qv_contract.h"
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <csignal>
#include <deque>

namespace qv::test {
namespace {

namespace pb = quorvis::v1;

// A Query under the name that reads the header and then stops reading, so that the service's worker
// stays blocked on it: the answer is far larger than the transport's windows.
class StalledReader {
public:
    StalledReader(pb::QuorvisService::Stub& stub, const std::string& name) {
        context_.AddMetadata(std::string(contract::kUserMetadataKey), name);
        pb::OperationRequest request;
        request.set_class_id(std::string(contract::kClassId));
        request.set_interface_id(std::string(contract::kQueryInterfaceId));
        request.set_request(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
        reader_ = stub.Query(&context_, request);
        pb::ResultPart header;
        if (reader_->Read(&header)) hresult = header.header().hresult();
    }
    ~StalledReader() { context_.TryCancel(); }
    std::int32_t hresult = -1;

private:
    grpc::ClientContext context_;
    std::unique_ptr<grpc::ClientReader<pb::ResultPart>> reader_;
};

TEST(CallerLimitsAbuse, NewNamesFromOneAddressGetNoMoreCalls) {
    TempDir dir;
    WriteManyTitles(dir.File("titles.db"), 200'000);
    ServiceProcess process({"serve", "--store", dir.File("titles.db"), "--listen", "127.0.0.1:0",
                            "--max-calls-per-caller", "2", "--max-calls-per-address", "3"});
    const std::string address = process.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << process.Log();
    // A connection of its own, as a client opens many, from the same address.
    grpc::ChannelArguments own;
    own.SetInt("qv.test.own_connection", 1);
    auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    auto other =
        pb::QuorvisService::NewStub(grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), own));

    std::deque<StalledReader> held;
    for (const char* name : {"n1", "n2", "n3"})
        ASSERT_EQ(held.emplace_back(*stub, name).hresult, contract::kOk) << name;
    EXPECT_EQ(StalledReader(*other, "n4").hresult, contract::kServerTooBusy);
    held.clear();
    EXPECT_EQ(process.Stop(SIGTERM), 0) << process.Log();
}

}  // namespace
}  // namespace qv::test
