#include "tests/support/fake_recorder_service.h"

#include "tests/support/temp_dir.h"

#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>

#include <stdexcept>

namespace qv::test {

class FakeRecorderService::Impl final : public quorvis::v1::QuorvisRecorder::Service {
public:
    grpc::Status Record(grpc::ServerContext* context, const quorvis::v1::RecordBatch* batch,
                        quorvis::v1::RecordReply* reply) override {
        ReceivedBatch received;
        const auto names = context->auth_context()->FindPropertyValues("x509_common_name");
        if (!names.empty()) received.peerName.assign(names.front().data(), names.front().size());
        received.recorderId = batch->recorder_id();
        received.firstSequence = batch->first_sequence();
        received.records.assign(batch->records().begin(), batch->records().end());
        received.icons.assign(batch->icons().begin(), batch->icons().end());
        std::unique_lock lock(mutex_);
        received.answer =
            script_.refuseIcons && batch->icons_size() > 0 ? grpc::StatusCode::INVALID_ARGUMENT : script_.answer;
        for (const auto& record : batch->records()) {
            if (record.process() == script_.refusedProcess) received.answer = grpc::StatusCode::INVALID_ARGUMENT;
        }
        const grpc::StatusCode answer = received.answer;
        batches_.push_back(std::move(received));
        changed_.notify_all();
        while (script_.held && !context->IsCancelled()) changed_.wait_for(lock, std::chrono::milliseconds(20));
        if (answer != grpc::StatusCode::OK) return {answer, "the fake service answers so"};
        if (batch->records_size() > 0)
            committed_ = std::max(committed_, batch->first_sequence() + batch->records_size() - 1);
        reply->set_committed_sequence(committed_);
        for (const auto& icon : batch->icons()) script_.lackingIcon.erase(icon.process());
        std::set<std::string> listed;
        for (const auto& record : batch->records()) {
            if (script_.lackingIcon.contains(record.process()) && listed.insert(record.process()).second)
                reply->add_programs_without_icon(record.process());
        }
        return grpc::Status::OK;
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<ReceivedBatch> batches_;
    Script script_;
    std::uint64_t committed_ = 0;
};

FakeRecorderService::FakeRecorderService(const std::string& certificates) : impl_(std::make_unique<Impl>()) {
    grpc::SslServerCredentialsOptions tls(GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
    tls.pem_key_cert_pairs.push_back(
        {ReadFile(certificates + "/test-server.key"), ReadFile(certificates + "/test-server.pem")});
    tls.pem_root_certs = ReadFile(certificates + "/test-recorder-ca.pem");
    grpc::ServerBuilder builder;
    int port = 0;
    builder.AddListeningPort("127.0.0.1:0", grpc::SslServerCredentials(tls), &port);
    builder.RegisterService(impl_.get());
    server_ = builder.BuildAndStart();
    if (!server_ || port == 0) throw std::runtime_error("the fake recorder service cannot listen");
    address_ = "127.0.0.1:" + std::to_string(port);
}

FakeRecorderService::~FakeRecorderService() {
    Change([](Script& script) { script.held = false; });
    server_->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(5));
}

void FakeRecorderService::Change(const std::function<void(Script&)>& change) {
    const std::lock_guard lock(impl_->mutex_);
    change(impl_->script_);
    impl_->changed_.notify_all();
}

std::vector<ReceivedBatch> FakeRecorderService::Batches() const {
    const std::lock_guard lock(impl_->mutex_);
    return impl_->batches_;
}

std::vector<quorvis::v1::LiveRecord> FakeRecorderService::Stored() const {
    std::vector<quorvis::v1::LiveRecord> stored;
    for (const ReceivedBatch& batch : Batches()) {
        if (batch.answer == grpc::StatusCode::OK)
            stored.insert(stored.end(), batch.records.begin(), batch.records.end());
    }
    return stored;
}

bool FakeRecorderService::WaitFor(const std::function<bool(const std::vector<ReceivedBatch>&)>& condition,
                                  std::chrono::milliseconds limit) const {
    std::unique_lock lock(impl_->mutex_);
    return impl_->changed_.wait_for(lock, limit, [&] { return condition(impl_->batches_); });
}

}  // namespace qv::test
