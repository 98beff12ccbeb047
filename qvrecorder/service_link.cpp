#include "qvrecorder/service_link.h"

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <grpcpp/support/channel_arguments.h>

namespace qv::recorder {

ServiceLink::ServiceLink(const std::string& server, const TlsIdentity& identity, std::chrono::seconds retryMax) {
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = identity.caPem;
    tls.pem_cert_chain = identity.certPem;
    tls.pem_private_key = identity.keyPem;
    grpc::ChannelArguments arguments;
    // Not the minimum: gRPC also takes it as the time a connection attempt may
    // last, and between calls nobody may look at an attempt for seconds.
    const int maxBackoffMs = static_cast<int>(std::chrono::milliseconds(retryMax).count());
    arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, std::min(1000, maxBackoffMs));
    arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, maxBackoffMs);
    channel_ = grpc::CreateCustomChannel(server, grpc::SslCredentials(tls), arguments);
    stub_ = quorvis::v1::QuorvisRecorder::NewStub(channel_);
}

grpc::Status ServiceLink::Record(const quorvis::v1::RecordBatch& batch, quorvis::v1::RecordReply& reply,
                                 std::chrono::seconds deadline) {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + deadline);
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_) return {grpc::StatusCode::CANCELLED, "the daemon is stopping"};
        inFlight_ = &context;
    }
    grpc::Status status = stub_->Record(&context, batch, &reply);
    const std::lock_guard lock(mutex_);
    inFlight_ = nullptr;
    return status;
}

void ServiceLink::Cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (inFlight_ != nullptr) inFlight_->TryCancel();
}

bool ServiceLink::Ready() { return channel_->GetState(true) == GRPC_CHANNEL_READY; }

}  // namespace qv::recorder
