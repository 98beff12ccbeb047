// Who may use the service object. The caller's identity is the common name
// of its client certificate when the service verifies client certificates
// (a caller without one is nobody, refused even when every name is allowed),
// else the user name the caller claims in its request metadata.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace grpc {
class ServerContext;
}

namespace qv::server {

class AccessPolicy {
public:
    AccessPolicy() = default;
    // allowed empty: every caller; names compare without regard to ASCII case,
    // as account names do.
    AccessPolicy(std::vector<std::string> allowed, bool certificateIdentity)
        : allowed_(std::move(allowed)), certificateIdentity_(certificateIdentity) {}

    std::string CallerOf(const grpc::ServerContext& context) const;
    bool Allows(std::string_view caller) const;
    bool NamesByCertificate() const { return certificateIdentity_; }

private:
    std::vector<std::string> allowed_;
    bool certificateIdentity_ = false;
};

// "a,b,c" into its non-empty names.
std::vector<std::string> SplitNames(std::string_view list);

// A peer as gRPC names it ("ipv4:10.0.0.7:51234") without its port: one
// client opens many connections, each from a port of its own.
std::string PeerHost(std::string_view peer);

}  // namespace qv::server
