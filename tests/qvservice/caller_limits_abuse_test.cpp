// A new name for every call gains no more calls: without client certificates, callers are counted by address too.
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <csignal>
#include <deque>

namespace qv::test {

namespace pb = quorvis::v1;

TEST(CallerLimitsAbuse, NewNamesFromOneAddressGetNoMoreCalls) {
    TempDir dir;
    WriteManyTitles(dir.File("titles.db"), 200'000);
    const auto process = Serve(dir.File("titles.db"), {"--max-calls-per-caller", "2", "--max-calls-per-address", "3"});
    const std::string address = process->ListeningAddress();
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
    EXPECT_EQ(process->Stop(SIGTERM), 0) << process->Log();
}

}  // namespace qv::test
