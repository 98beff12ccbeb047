// The viewer's client against a fake service on a loopback port that stalls, stops half way, lies about its rows or
// streams without end: every call ends within its deadline or answer limit with a description, and the next call on the
// same object works.
#include "platform/recordset.h"
#include "proto/quorvis.grpc.pb.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <limits>
#include <thread>

namespace {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

enum class Behaviour { Good, Silent, HalfThenStall, WrongWidth, WrongType, NotANumber, Endless };

void AddRow(pb::ResultPart& part, std::int64_t id, double events) {
    auto* row = part.add_rows();
    auto* first = row->add_values();
    first->set_tag(VT_I4);
    first->set_integer(id);
    auto* second = row->add_values();
    second->set_tag(VT_R8);
    second->set_real(events);
}

// Holds a call open until the client gives up; bounded so that a client that never does cannot hang the test's end.
void StallUntilCancelled(grpc::ServerContext& context) {
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (!context.IsCancelled() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(1ms);
}

class FakeService final : public pb::QuorvisService::Service {
public:
    std::atomic<Behaviour> behaviour{Behaviour::Good};

    grpc::Status Activate(grpc::ServerContext*, const pb::ActivateRequest*, pb::ActivateReply* reply) override {
        reply->set_hresult(0);
        return grpc::Status::OK;
    }

    grpc::Status Query(grpc::ServerContext* context, const pb::OperationRequest*,
                       grpc::ServerWriter<pb::ResultPart>* writer) override {
        const Behaviour now = behaviour;
        if (now == Behaviour::Silent) {
            StallUntilCancelled(*context);
            return grpc::Status::CANCELLED;
        }
        pb::ResultPart header;
        header.mutable_header()->set_hresult(0);
        for (const auto& [name, type] : {std::pair{"ID", adInteger}, std::pair{"KeyboardEvents", adDouble}}) {
            auto* field = header.mutable_header()->add_fields();
            field->set_name(name);
            field->set_ado_type(type);
        }
        writer->Write(header);
        pb::ResultPart rows;
        if (now == Behaviour::Endless) {
            for (int i = 0; i < 100; ++i) AddRow(rows, i, 1.0);
            while (!context->IsCancelled() && writer->Write(rows)) continue;
            return grpc::Status::OK;
        }
        AddRow(rows, 1, now == Behaviour::NotANumber ? std::numeric_limits<double>::quiet_NaN() : 2.5);
        if (now == Behaviour::Good) AddRow(rows, 2, 4.0);
        if (now == Behaviour::WrongWidth) rows.mutable_rows(0)->add_values()->set_tag(VT_NULL);
        if (now == Behaviour::WrongType) {
            rows.mutable_rows(0)->mutable_values(0)->set_tag(VT_BSTR);
            rows.mutable_rows(0)->mutable_values(0)->set_bytes("one");
        }
        writer->Write(rows);
        if (now == Behaviour::HalfThenStall) StallUntilCancelled(*context);
        return grpc::Status::OK;
    }
};

class LyingServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        grpc::ServerBuilder builder;
        int port = 0;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(&fake_);
        server_ = builder.BuildAndStart();
        ASSERT_TRUE(server_ && port > 0);
        address_ = "127.0.0.1:" + std::to_string(port);
    }
    void TearDown() override {
        if (server_) server_->Shutdown(std::chrono::system_clock::now());
    }

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

    FakeService fake_;
    std::unique_ptr<grpc::Server> server_;
    std::string address_;
};

TEST_F(LyingServiceTest, StalledMalformedOrEndlessAnswersFailWithTheirReasonAndTheNextCallWorks) {
    ActivationResult activation = ActivateQuorvisService(address_, RemoteDeadlines{1000ms, 1000ms});
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

    // An endless answer stops at its byte limit; the row cap is ServiceContract's.
    activation = ActivateQuorvisService(address_, RemoteDeadlines{1000ms, 20'000ms, kMaxAnswerRows, 1 << 20});
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery bounded(activation.object);
    fake_.behaviour = Behaviour::Endless;
    const auto [hr, description] = Ask(bounded);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_NE(description.find("more than 1 MiB"), std::string::npos) << description;
    ExpectGoodAnswer(bounded);
}

TEST(SilentListener, ActivationGivesUpAtItsConnectDeadline) {
    // A port that accepts connections and never speaks.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(listener, 4) == 0 && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const std::string target = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const ActivationResult activation = ActivateQuorvisService(target, RemoteDeadlines{500ms, 500ms});
    EXPECT_EQ(activation.hr, HRESULT_RPC_S_SERVER_UNAVAILABLE) << activation.description;
    EXPECT_FALSE(activation.object);
    close(listener);
}

}  // namespace
