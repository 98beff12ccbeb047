#include "tests/support/recording_client.h"

#include "tests/support/temp_dir.h"

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>

#include <chrono>

namespace qv::test {

std::unique_ptr<quorvis::v1::QuorvisRecorder::Stub> RecorderStub(const std::string& address, const std::string& certs,
                                                                 const std::string& certificate) {
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = ReadFile(certs + "/test-ca.pem");
    if (!certificate.empty()) {
        tls.pem_private_key = ReadFile(certs + "/" + certificate + ".key");
        tls.pem_cert_chain = ReadFile(certs + "/" + certificate + ".pem");
    }
    return quorvis::v1::QuorvisRecorder::NewStub(grpc::CreateChannel(address, grpc::SslCredentials(tls)));
}

quorvis::v1::RecordBatch WireBatch(const std::string& recorderId, std::uint64_t firstSequence,
                                   const std::vector<ActivityRecord>& records) {
    quorvis::v1::RecordBatch batch;
    batch.set_recorder_id(recorderId);
    batch.set_first_sequence(firstSequence);
    for (const ActivityRecord& r : records) {
        auto& wire = *batch.add_records();
        wire.set_user(r.user);
        wire.set_computer(r.computer);
        wire.set_process(r.process);
        wire.set_description(r.description);
        wire.set_window_title(r.windowTitle);
        wire.set_start_ms(r.startMs);
        wire.set_duration_ms(r.durationMs);
        wire.set_keyboard_events(r.keyboardEvents);
        wire.set_mouse_events(r.mouseEvents);
    }
    return batch;
}

grpc::Status SendBatch(quorvis::v1::QuorvisRecorder::Stub& stub, const quorvis::v1::RecordBatch& batch,
                       quorvis::v1::RecordReply* reply) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
    quorvis::v1::RecordReply ignored;
    return stub.Record(&context, batch, reply != nullptr ? reply : &ignored);
}

}  // namespace qv::test
