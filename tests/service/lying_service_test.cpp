// The viewer's client against a fake service on a loopback port that stalls, stops half way, lies about its rows or
// streams without end: every call ends within its deadline or answer limit with a description, and the next call on the
// same object works.
#include "proto/qv_contract.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"

#include "tests/service/lying_service.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using qv::test::Behaviour;

class LyingServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(address_.empty()); }

    // Asks for the users; the status and description the viewer would see.
    std::pair<HRESULT, std::string> Ask(RemoteQVQuery& service) {
        QueryRequest request;
        request.kind = static_cast<std::int32_t>(QueryKind::Users);
        RecordsetPtr result;
        const HRESULT hr = service.Query(request, result);
        return {hr, service.ErrorDescription()};
    }

    // The good answer, read through the viewer's reader.
    void ExpectGoodAnswer(RemoteQVQuery& service) {
        fake_.behaviour = Behaviour::Good;
        QueryRequest request;
        request.kind = static_cast<std::int32_t>(QueryKind::Users);
        RecordsetReader reader(RunQuery(&service, request));
        Field events = reader.GetField("KeyboardEvents");
        double total = 0;
        for (; !reader.IsEOF(); reader.MoveNext()) total += GetFieldDouble(events);
        EXPECT_EQ(total, 6.5);
    }

    qv::test::LyingServer server_;
    qv::test::FakeService& fake_ = server_.fake;
    std::string address_ = server_.Address();
};

TEST_F(LyingServiceTest, StalledMalformedOrEndlessAnswersFailWithTheirReasonAndTheNextCallWorks) {
    RemoteDeadlines deadlines{1000ms, 1000ms};
    ActivationResult activation = ActivateQuorvisService(address_, deadlines);
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery service(activation.object);
    ExpectGoodAnswer(service);

    using Lie = std::tuple<Behaviour, HRESULT, const char*>;
    for (const auto& [behaviour, expected, says] :
         {Lie{Behaviour::Silent, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
          Lie{Behaviour::HalfThenStall, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
          Lie{Behaviour::WrongWidth, E_INVALIDARG, "3 values for 2 fields"},
          Lie{Behaviour::WrongType, DISP_E_TYPEMISMATCH, "field ID holds a value of type 8"},
          Lie{Behaviour::NotANumber, DISP_E_OVERFLOW, "not a finite number"}}) {
        fake_.behaviour = behaviour;
        const auto [hr, description] = Ask(service);
        EXPECT_EQ(hr, expected) << description;
        EXPECT_NE(description.find(says), std::string::npos) << description;
        ExpectGoodAnswer(service);
    }

    // An endless answer stops at its row or byte limit.
    for (const auto& [limits, says] :
         {std::pair{RemoteDeadlines{1000ms, 20'000ms, 10'000}, "more than 10000 rows"},
          std::pair{RemoteDeadlines{1000ms, 20'000ms, kMaxAnswerRows, 1 << 20}, "more than 1 MiB"}}) {
        ActivationResult activation = ActivateQuorvisService(address_, limits);
        ASSERT_EQ(activation.hr, S_OK) << activation.description;
        RemoteQVQuery service(activation.object);
        fake_.behaviour = Behaviour::Endless;
        const auto [hr, description] = Ask(service);
        EXPECT_EQ(hr, E_OUTOFMEMORY);
        EXPECT_NE(description.find(says), std::string::npos) << description;
        ExpectGoodAnswer(service);
    }
}

TEST(SilentListener, ActivationGivesUpAtItsConnectDeadline) {
    // A port that accepts connections and never speaks.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string target = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const ActivationResult activation = ActivateQuorvisService(target, RemoteDeadlines{500ms, 500ms});
    EXPECT_EQ(activation.hr, HRESULT_RPC_S_SERVER_UNAVAILABLE) << activation.description;
    EXPECT_FALSE(activation.object);
    close(listener);
}

}  // namespace
