// A real qvservice's limits: a stalled caller loses its call at the time limit, one caller holds no more calls than
// allowed, and SIGTERM ends a stalled call after its grace while a large answer to another caller arrives whole.
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace qv::test {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows

static std::int32_t ProgramInfoStatus(ServiceClient& client, const std::string& user) {
    const Answer answer = client.ProgramInfo(server::EncodeProgramInfoRequest(1), {user});
    EXPECT_TRUE(answer.status.ok()) << answer.status.error_message();
    return answer.hresult;
}

TEST(CallLimits, AStalledCallerLosesItsCallAtTheLimitAndSigtermEndsOneAfterItsGrace) {
    TempDir dir;
    const std::string store = dir.File("titles.db");
    WriteManyTitles(store, kTitles);
    {
        // The limit leaves room for the first row of the large answer, also in a sanitizer build.
        const auto process = Serve(store, {"--call-timeout", "3", "--max-calls-per-caller", "1"});
        const std::string address = process->ListeningAddress();
        ServiceClient client(address);
        const auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
        StalledReader stalled(*stub, "carol");
        ASSERT_EQ(stalled.hresult, contract::kOk);
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
    const std::string address = process->ListeningAddress();
    const auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    StalledReader stalled(*stub, "carol");
    ASSERT_EQ(stalled.hresult, contract::kOk);
    // Every row once, in full batches, the titles' bytes as stored (odd ones are not UTF-8).
    std::vector<bool> seen(kTitles + 1, false);
    std::size_t oddTitles = 0;
    const Answer whole =
        ServiceClient(address).Query(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0), {}, [&](const pb::Row& row) {
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

}  // namespace qv::test
