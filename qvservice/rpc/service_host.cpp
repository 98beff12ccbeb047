#include "qvservice/rpc/service_host.h"

#include "proto/qv_contract.h"
#include "qvservice/model/store_schema.h"
#include "records/log.h"
#include "records/tls_files.h"

#include <grpcpp/resource_quota.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace qv::server {

namespace {

constexpr int kMaxRequestBytes = 64 * 1024;
// A recorder's batch: a relay sends about a megabyte at most.
constexpr int kMaxRecordBatchBytes = 8 * 1024 * 1024;
// Workers that operations never take, so that activations and "too busy"
// answers still get through when every caller's slots are in use.
constexpr int kReservedWorkers = 32;
// Beyond a caller's limit, room for its "too busy" answers and activations.
constexpr int kSpareStreamsPerConnection = 8;
constexpr auto kShutdownGrace = std::chrono::seconds(5);

std::shared_ptr<grpc::ServerCredentials> Credentials(const ServeOptions& options) {
    if (options.tlsCertFile.empty() && options.tlsKeyFile.empty()) {
        if (!options.clientCaFile.empty()) throw std::runtime_error("--client-ca needs --tls-cert and --tls-key");
        if (!options.recorderCaFile.empty()) throw std::runtime_error("--recorder-ca needs --tls-cert and --tls-key");
        return grpc::InsecureServerCredentials();
    }
    if (options.tlsCertFile.empty() || options.tlsKeyFile.empty()) {
        throw std::runtime_error("TLS needs both --tls-cert and --tls-key");
    }
    CheckKeyFileMode(options.tlsKeyFile);
    // A caller without a certificate gets through the handshake and is then
    // refused by the access policy, so that it hears "access denied" rather
    // than a dropped connection.
    // Viewers without a certificate still connect when only recorders
    // present one; which CA signed a certificate is told apart per call.
    const bool certificates = !options.clientCaFile.empty() || !options.recorderCaFile.empty();
    grpc::SslServerCredentialsOptions ssl(certificates ? GRPC_SSL_REQUEST_CLIENT_CERTIFICATE_AND_VERIFY
                                                       : GRPC_SSL_DONT_REQUEST_CLIENT_CERTIFICATE);
    ssl.pem_key_cert_pairs.push_back(
        {ReadTlsFile(options.tlsKeyFile, "TLS key"), ReadTlsFile(options.tlsCertFile, "TLS certificate")});
    if (!options.clientCaFile.empty()) ssl.pem_root_certs = ReadTlsFile(options.clientCaFile, "client CA") + "\n";
    if (!options.recorderCaFile.empty()) ssl.pem_root_certs += ReadTlsFile(options.recorderCaFile, "recorder CA");
    return grpc::SslServerCredentials(ssl);
}

CallLimits WithReserve(CallLimits limits) {
    limits.maxCalls = kWorkerThreads - kReservedWorkers;
    return limits;
}

std::string FormatHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

ListenAddress ParseListenAddress(const std::string& text) {
    // Reaching further is a choice, made with an address and its safeguards.
    if (text.empty()) return {"127.0.0.1", contract::kDefaultPort};
    ListenAddress address;
    std::string portText;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) throw std::invalid_argument("missing ']' in " + text);
        address.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') throw std::invalid_argument("expected ':' after ']' in " + text);
        if (!rest.empty()) portText = rest.substr(1);
    } else {
        const std::size_t colon = text.find(':');
        if (colon != text.rfind(':')) throw std::invalid_argument("write an IPv6 address in brackets: " + text);
        address.host = text.substr(0, colon);
        if (colon != std::string::npos) portText = text.substr(colon + 1);
    }
    if (address.host.empty()) throw std::invalid_argument("no host in " + text);
    if (portText.empty() && text.back() != ':') {
        address.port = contract::kDefaultPort;
        return address;
    }
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(portText) > 65535) {
        throw std::invalid_argument("not a port number in " + text);
    }
    address.port = static_cast<std::uint16_t>(std::stoul(portText));
    return address;
}

bool IsLoopbackOnly(const ListenAddress& address) {
    std::string host = address.host;
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::vector<std::string> CheckServeSecurity(const ServeOptions& options) {
    const ListenAddress address = ParseListenAddress(options.listen);
    const std::string where = FormatHost(address.host) + ":" + std::to_string(address.port);
    const bool loopback = IsLoopbackOnly(address);
    const bool certificates = !options.clientCaFile.empty();
    if (options.trustClaimedNames && certificates) {
        throw std::runtime_error(
            "--trust-claimed-names does not go with --client-ca, whose certificates name the callers");
    }
    // On loopback too: any local account can claim any name.
    if (!options.allowed.empty() && !certificates && !options.trustClaimedNames) {
        throw std::runtime_error(
            "--allow without --client-ca lets " +
            (loopback ? "any user of this machine" : "anyone who reaches " + where) +
            " read as an allowed name by claiming it; give --client-ca with --tls-cert and --tls-key, or add "
            "--trust-claimed-names" +
            (loopback ? "" : " and --insecure"));
    }
    if (!certificates && !loopback && !options.insecure) {
        throw std::runtime_error("serving " + where +
                                 " without client certificates answers anyone who reaches it; give --tls-cert, "
                                 "--tls-key and --client-ca (see \"Secure set-up\" in the README), listen on a "
                                 "loopback address such as 127.0.0.1, or add --insecure");
    }
    std::vector<std::string> warnings;
    if (options.trustClaimedNames) {
        warnings.push_back(
            "warning: --trust-claimed-names: every caller is who it claims to be; the names of --allow "
            "keep out no one who knows them");
    }
    if (!certificates && !loopback) {
        warnings.push_back(options.tlsCertFile.empty()
                               ? "warning: --insecure: plain text on " + where +
                                     ": activity records and user names cross the network unencrypted to callers "
                                     "nobody authenticated; give --tls-cert, --tls-key and --client-ca"
                               : "warning: --insecure: callers on " + where +
                                     " are not authenticated; give --client-ca");
    }
    return warnings;
}

ServiceHost::ServiceHost(const ServeOptions& options)
    : options_(options),
      keeper_(IsPostgresStore(options.storePath) ? nullptr : OpenStore(options.storePath, Database::Mode::ReadWrite)),
      pool_(options.storePath, options.dbConnections),
      recorders_(options.recorderCaFile.empty() ? RecorderIdentity()
                                                : RecorderIdentity(options.recorderCaFile, options.clientCaFile)),
      service_(pool_, AccessPolicy(options.allowed, !options.clientCaFile.empty()), WithReserve(options.limits),
               &recorders_),
      recording_(recorders_, options.storePath) {
    // Answers read tables that older stores do not have yet.
    UpgradeOlderStore(keeper_ ? *keeper_ : *OpenStore(options.storePath, Database::Mode::ReadWrite));
    CheckSchema(*pool_.Acquire());
}

ServiceHost::~ServiceHost() {
    if (server_) {
        server_->Shutdown(std::chrono::system_clock::now());
        server_->Wait();
    }
}

std::string ServiceHost::Start() {
    const ListenAddress address = ParseListenAddress(options_.listen);
    const std::string target = FormatHost(address.host) + ":" + std::to_string(address.port);
    grpc::ServerBuilder builder;
    int boundPort = 0;
    builder.AddListeningPort(target, Credentials(options_), &boundPort);
    grpc::ResourceQuota quota("qvservice");
    quota.SetMaxThreads(kWorkerThreads);
    builder.SetResourceQuota(quota);
    builder.SetMaxReceiveMessageSize(recorders_.Enabled() ? kMaxRecordBatchBytes : kMaxRequestBytes);
    // One connection must not open streams without end: each costs memory,
    // and they would only wait for workers.
    builder.AddChannelArgument(
        GRPC_ARG_MAX_CONCURRENT_STREAMS,
        std::max(options_.limits.maxCallsPerCaller, options_.limits.maxCallsPerAddress) + kSpareStreamsPerConnection);
    // A second service on the same port must fail, not share the port unseen.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    builder.RegisterService(&service_);
    builder.RegisterService(&recording_);
    server_ = builder.BuildAndStart();
    if (!server_ || boundPort == 0) {
        server_.reset();
        throw std::runtime_error("cannot listen on " + target);
    }
    return FormatHost(address.host) + ":" + std::to_string(boundPort);
}

void ServiceHost::Shutdown() {
    if (!server_) return;
    service_.WaitUntilIdle(std::chrono::steady_clock::now() + kShutdownGrace);
    server_->Shutdown(std::chrono::system_clock::now());
}

void ServiceHost::Wait() {
    if (server_) server_->Wait();
}

}  // namespace qv::server
