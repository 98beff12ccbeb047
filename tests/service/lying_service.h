#pragma once
// A fake Quorvis Service for the tests: it activates, and answers Query as told: well, not at all, half and then
// nothing, with rows that lie about their width, types or numbers, or without end.
#include "platform/recordset.h"
#include "platform/variant.h"
#include "proto/quorvis.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <string>
#include <thread>

namespace qv::test {

namespace pb = quorvis::v1;

enum class Behaviour { Good, Silent, HalfThenStall, WrongWidth, WrongType, NotANumber, Endless };

inline void AddField(pb::ResultPart& part, const char* name, int adoType) {
    auto* field = part.mutable_header()->add_fields();
    field->set_name(name);
    field->set_ado_type(adoType);
}

inline void AddRow(pb::ResultPart& part, std::int64_t id, double events) {
    auto* row = part.add_rows();
    auto* first = row->add_values();
    first->set_tag(VT_I4);
    first->set_integer(id);
    auto* second = row->add_values();
    second->set_tag(VT_R8);
    second->set_real(events);
}

// Holds a call open until the client gives up; bounded so that a client that never does cannot hang the test's end.
inline void StallUntilCancelled(grpc::ServerContext& context) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!context.IsCancelled() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
        writer->Write(header);
        pb::ResultPart rows;
        if (now != Behaviour::Endless) {
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
        for (int i = 0; i < kRowsPerMessage; ++i) AddRow(rows, i, 1.0);
        while (!context->IsCancelled() && writer->Write(rows)) continue;
        return grpc::Status::OK;
    }

private:
    static constexpr int kRowsPerMessage = 100;
};

// The fake on 127.0.0.1 and a free port, for the life of this object.
class LyingServer {
public:
    LyingServer() {
        grpc::ServerBuilder builder;
        int port = 0;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(&fake);
        server_ = builder.BuildAndStart();
        if (server_ && port > 0) address_ = "127.0.0.1:" + std::to_string(port);
    }
    ~LyingServer() {
        if (server_) server_->Shutdown(std::chrono::system_clock::now());
    }
    LyingServer(const LyingServer&) = delete;
    LyingServer& operator=(const LyingServer&) = delete;
    // Empty when the fake could not listen.
    const std::string& Address() const { return address_; }

    FakeService fake;

private:
    std::unique_ptr<grpc::Server> server_;
    std::string address_;
};

}  // namespace qv::test
