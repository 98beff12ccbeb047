#include "platform/remote_activation.h"

#include "platform/wire_values.h"
#include "proto/quorvis.grpc.pb.h"
#include "proto/qv_contract.h"

#include <grpc/support/log.h>
#include <grpcpp/grpcpp.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <mutex>

namespace {

using namespace std::chrono;
namespace pb = quorvis::v1;

std::mutex waiterLock;
CallWaiter currentWaiter;

void WaitForAnswer(std::future<void>& answer) {
    CallWaiter waiter;
    {
        std::lock_guard lock(waiterLock);
        waiter = currentWaiter;
    }
    if (waiter)
        waiter(answer);
    else
        answer.wait();
}

// Runs the call on a worker thread so that the waiter decides how the
// calling thread spends the wait.
template <typename Call>
void RunCall(Call&& call) {
    std::future<void> answer = std::async(std::launch::async, std::forward<Call>(call));
    WaitForAnswer(answer);
    answer.get();
}

std::string LoginName() {
    std::string name;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) name = found->pw_name;
    return name;
}

// Transport failures: the server could not be reached or did not answer in
// time. Anything else the transport reports is a failed call.
HRESULT TransportFailure(const grpc::Status& status, std::string& description) {
    description = status.error_message();
    switch (status.error_code()) {
        case grpc::StatusCode::UNAVAILABLE:
        case grpc::StatusCode::DEADLINE_EXCEEDED: return HRESULT_RPC_S_SERVER_UNAVAILABLE;
        default: return HRESULT_RPC_S_CALL_FAILED;
    }
}

class GrpcRemoteObject final : public RemoteObject {
public:
    GrpcRemoteObject(std::shared_ptr<grpc::Channel> channel, std::string classId, RemoteDeadlines deadlines)
        : stub_(pb::QuorvisService::NewStub(channel)),
          classId_(std::move(classId)),
          user_(LoginName()),
          deadlines_(deadlines) {}

    HRESULT QueryInterface(std::string_view interfaceId, std::string& description) override {
        pb::ActivateRequest request;
        request.set_class_id(classId_);
        request.set_interface_id(std::string(interfaceId));
        pb::ActivateReply reply;
        grpc::Status status;
        RunCall([&] {
            grpc::ClientContext context;
            Prepare(context, deadlines_.connect);
            status = stub_->Activate(&context, request, &reply);
        });
        if (!status.ok()) return TransportFailure(status, description);
        if (reply.hresult() < 0) description = reply.description();
        if (reply.hresult() >= 0) interfaceId_ = interfaceId;
        return reply.hresult();
    }

    RemoteAnswer Query(std::span<const std::byte> request) override {
        return Call(request, &pb::QuorvisService::Stub::Query);
    }
    RemoteAnswer QueryProgramInfo(std::span<const std::byte> request) override {
        return Call(request, &pb::QuorvisService::Stub::QueryProgramInfo);
    }

private:
    using StreamCall = std::unique_ptr<grpc::ClientReader<pb::ResultPart>> (pb::QuorvisService::Stub::*)(
        grpc::ClientContext*, const pb::OperationRequest&);

    void Prepare(grpc::ClientContext& context, milliseconds timeout) const {
        context.set_deadline(system_clock::now() + timeout);
        context.AddMetadata(std::string(qv::contract::kUserMetadataKey), user_);
    }

    RemoteAnswer Call(std::span<const std::byte> bytes, StreamCall call) {
        pb::OperationRequest request;
        request.set_class_id(classId_);
        request.set_interface_id(interfaceId_);
        request.set_request(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        RemoteAnswer answer;
        RunCall([&] { answer = Stream(request, call); });
        return answer;
    }

    RemoteAnswer Stream(const pb::OperationRequest& request, StreamCall call) {
        grpc::ClientContext context;
        Prepare(context, deadlines_.call);
        auto reader = ((*stub_).*call)(&context, request);
        RemoteAnswer answer;
        WireAnswerBuilder builder;
        pb::ResultPart part;
        bool started = false;
        std::size_t rows = 0;
        std::size_t bytes = 0;
        // The first message is the header alone; the rest carry rows.
        while (answer.hr >= 0 && reader->Read(&part)) {
            rows += static_cast<std::size_t>(part.rows_size());
            bytes += part.ByteSizeLong();
            if (rows > deadlines_.maxRows || bytes > deadlines_.maxBytes) {
                answer.hr = E_OUTOFMEMORY;
                answer.description = TooLarge(rows > deadlines_.maxRows);
                break;
            }
            if (!started) {
                if (!part.has_header() || part.rows_size() > 0) {
                    answer.hr = E_UNEXPECTED;
                    answer.description = "the service's answer does not start with its field list";
                    break;
                }
                started = true;
                answer.hr = builder.Start(part.header(), answer.description);
                continue;
            }
            for (const auto& row : part.rows()) {
                answer.hr = builder.AddRow(row, answer.description);
                if (answer.hr < 0) break;
            }
        }
        if (answer.hr < 0) {
            context.TryCancel();
            reader->Finish();
            return answer;
        }
        grpc::Status status = reader->Finish();
        if (!status.ok()) {
            answer.hr = TransportFailure(status, answer.description);
        } else if (!started) {
            answer.hr = E_UNEXPECTED;
            answer.description = "the service's answer is empty";
        } else {
            answer.recordset = builder.Finish();
        }
        return answer;
    }

    std::string TooLarge(bool byRows) const {
        const std::string limit =
            byRows ? std::to_string(deadlines_.maxRows) + " rows" : std::to_string(deadlines_.maxBytes >> 20) + " MiB";
        return "the service's answer holds more than " + limit + "; choose a shorter period or fewer items";
    }

    std::unique_ptr<pb::QuorvisService::Stub> stub_;
    std::string classId_;
    std::string interfaceId_;
    std::string user_;
    RemoteDeadlines deadlines_;
};

bool ValidPort(std::string_view port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value > 0 && value <= 65535;
}

std::shared_ptr<grpc::ChannelCredentials> Credentials(const ChannelSecurity& security) {
    if (security.caPem.empty()) return grpc::InsecureChannelCredentials();
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = security.caPem;
    tls.pem_cert_chain = security.certPem;
    tls.pem_private_key = security.keyPem;
    return grpc::SslCredentials(tls);
}

}  // namespace

std::string ChannelTarget(std::string_view serverName) {
    const std::string defaultPort = std::to_string(qv::contract::kDefaultPort);
    for (char c : serverName)
        if (std::isspace(static_cast<unsigned char>(c)) || c == '/') return {};
    if (serverName.empty()) return {};
    if (serverName.front() == '[') {
        auto close = serverName.find(']');
        if (close == std::string_view::npos || close == 1) return {};
        std::string_view rest = serverName.substr(close + 1);
        if (rest.empty()) return std::string(serverName) + ":" + defaultPort;
        return rest.front() == ':' && ValidPort(rest.substr(1)) ? std::string(serverName) : std::string();
    }
    auto colon = serverName.find(':');
    if (colon == std::string_view::npos) return std::string(serverName) + ":" + defaultPort;
    if (colon == 0 || serverName.find(':', colon + 1) != std::string_view::npos) return {};
    return ValidPort(serverName.substr(colon + 1)) ? std::string(serverName) : std::string();
}

void SilenceTransportLog() {
    gpr_set_log_function([](gpr_log_func_args* args) {
        const std::string_view message = args->message;
        if (message.starts_with("assertion failed"))
            std::fprintf(stderr, "%s:%d: %s\n", args->file, args->line, args->message);
    });
}

void SetCallWaiter(CallWaiter waiter) {
    std::lock_guard lock(waiterLock);
    currentWaiter = std::move(waiter);
}

ActivationResult ActivateRemoteObject(std::string_view serverName, std::string_view classId,
                                      std::string_view interfaceId, RemoteDeadlines deadlines,
                                      const ChannelSecurity& security) {
    ActivationResult result;
    const std::string target = ChannelTarget(serverName);
    if (target.empty()) {
        result.hr = HRESULT_RPC_S_SERVER_UNAVAILABLE;
        result.description = "not a server name: " + std::string(serverName);
        return result;
    }
    auto channel = grpc::CreateChannel(target, Credentials(security));
    auto object = std::make_shared<GrpcRemoteObject>(channel, std::string(classId), deadlines);
    result.hr = object->QueryInterface(interfaceId, result.description);
    if (result.hr >= 0) result.object = std::move(object);
    return result;
}
