// The viewer's client against a fake service on a loopback port that stalls,
// stops half way, lies about its rows or streams without end: every call ends
// within its deadline or answer limit with a description, and the next call
// on the same object works.
#include "qv_contract.h"
#include "recordset_reader.h"
#include "remote_qv_query.h"

#include "quorvis.grpc.pb.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

enum class Behaviour { Good, Silent, HalfThenStall, WrongWidth, WrongType, NotANumber, Endless, EndlessLarge };

void AddField(pb::ResultPart& part, const char* name, int adoType) {
    auto* field = part.mutable_header()->add_fields();
    field->set_name(name);
    field->set_ado_type(adoType);
}

void AddRow(pb::ResultPart& part, std::int64_t id, double events) {
    auto* row = part.add_rows();
    auto* first = row->add_values();
    first->set_tag(VT_I4);
    first->set_integer(id);
    auto* second = row->add_values();
    second->set_tag(VT_R8);
    second->set_real(events);
}

// Holds a call open until the client gives up; bounded so that a client
// that never does cannot hang the test's end.
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
        AddField(header, "ID", adInteger);
        AddField(header, "KeyboardEvents", adDouble);
        if (now == Behaviour::EndlessLarge) AddField(header, "Name", adVarWChar);
        writer->Write(header);
        pb::ResultPart rows;
        switch (now) {
        case Behaviour::Good:
            AddRow(rows, 1, 2.5);
            AddRow(rows, 2, 4.0);
            writer->Write(rows);
            break;
        case Behaviour::HalfThenStall:
            AddRow(rows, 1, 2.5);
            writer->Write(rows);
            StallUntilCancelled(*context);
            break;
        case Behaviour::WrongWidth:
            AddRow(rows, 1, 2.5);
            rows.mutable_rows(0)->add_values()->set_tag(VT_NULL);
            writer->Write(rows);
            break;
        case Behaviour::WrongType:
            AddRow(rows, 1, 2.5);
            rows.mutable_rows(0)->mutable_values(0)->set_tag(VT_BSTR);
            rows.mutable_rows(0)->mutable_values(0)->set_bytes("one");
            writer->Write(rows);
            break;
        case Behaviour::NotANumber:
            AddRow(rows, 1, std::numeric_limits<double>::quiet_NaN());
            writer->Write(rows);
            break;
        case Behaviour::Endless:
        case Behaviour::EndlessLarge:
            for (int i = 0; i < kRowsPerMessage; ++i) {
                AddRow(rows, i, 1.0);
                if (now == Behaviour::EndlessLarge) {
                    auto* name = rows.mutable_rows(i)->add_values();
                    name->set_tag(VT_BSTR);
                    name->set_bytes(std::string(1000, 'x'));
                }
            }
            while (!context->IsCancelled() && writer->Write(rows)) {
            }
            break;
        case Behaviour::Silent: break;
        }
        return grpc::Status::OK;
    }

private:
    static constexpr int kRowsPerMessage = 100;
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

TEST_F(LyingServiceTest, StalledAndMalformedAnswersFailWithTheirReasonAndTheNextCallWorks) {
    RemoteDeadlines deadlines{1000ms, 1000ms};
    ActivationResult activation = ActivateQuorvisService(address_, deadlines);
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery service(activation.object);
    ExpectGoodAnswer(service);

    struct Case {
        Behaviour behaviour;
        HRESULT hr;
        const char* says;
    };
    for (const Case& lie : {Case{Behaviour::Silent, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
                            Case{Behaviour::HalfThenStall, HRESULT_RPC_S_SERVER_UNAVAILABLE, "Deadline"},
                            Case{Behaviour::WrongWidth, E_INVALIDARG, "3 values for 2 fields"},
                            Case{Behaviour::WrongType, DISP_E_TYPEMISMATCH, "field ID holds a value of type 8"},
                            Case{Behaviour::NotANumber, DISP_E_OVERFLOW, "not a finite number"}}) {
        fake_.behaviour = lie.behaviour;
        const auto [hr, description] = Ask(service);
        EXPECT_EQ(hr, lie.hr) << description;
        EXPECT_NE(description.find(lie.says), std::string::npos) << description;
        ExpectGoodAnswer(service);
    }
}

TEST_F(LyingServiceTest, AnEndlessAnswerStopsAtItsRowOrByteLimit) {
    RemoteDeadlines byRows{1000ms, 20'000ms, 10'000};
    ActivationResult rowsLimited = ActivateQuorvisService(address_, byRows);
    ASSERT_EQ(rowsLimited.hr, S_OK) << rowsLimited.description;
    RemoteQVQuery service(rowsLimited.object);
    fake_.behaviour = Behaviour::Endless;
    auto [hr, description] = Ask(service);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_NE(description.find("more than 10000 rows"), std::string::npos) << description;
    ExpectGoodAnswer(service);

    RemoteDeadlines byBytes{1000ms, 20'000ms, kMaxAnswerRows, std::size_t{4} << 20};
    ActivationResult bytesLimited = ActivateQuorvisService(address_, byBytes);
    ASSERT_EQ(bytesLimited.hr, S_OK) << bytesLimited.description;
    RemoteQVQuery large(bytesLimited.object);
    fake_.behaviour = Behaviour::EndlessLarge;
    std::tie(hr, description) = Ask(large);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_NE(description.find("more than 4 MiB"), std::string::npos) << description;
    ExpectGoodAnswer(large);
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
