#include "qvservice/rpc/access_policy.h"

#include "proto/qv_contract.h"

#include <grpc/grpc_security_constants.h>
#include <grpcpp/server_context.h>
#include <algorithm>

namespace qv::server {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

std::string AccessPolicy::CallerOf(const grpc::ServerContext& context) const {
    if (certificateIdentity_) {
        const auto auth = context.auth_context();
        if (!auth) return {};
        const auto names = auth->FindPropertyValues(GRPC_X509_CN_PROPERTY_NAME);
        return names.empty() ? std::string() : std::string(names.front().data(), names.front().size());
    }
    const auto& metadata = context.client_metadata();
    const auto claim =
        metadata.find(grpc::string_ref(contract::kUserMetadataKey.data(), contract::kUserMetadataKey.size()));
    return claim == metadata.end() ? std::string() : std::string(claim->second.data(), claim->second.size());
}

bool AccessPolicy::Allows(std::string_view caller) const {
    if (caller.empty() && certificateIdentity_) return false;
    if (allowed_.empty()) return true;
    if (caller.empty()) return false;
    return std::any_of(allowed_.begin(), allowed_.end(),
                       [&](const std::string& name) { return EqualNoCase(name, caller); });
}

std::vector<std::string> SplitNames(std::string_view list) {
    std::vector<std::string> names;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view name = list.substr(0, comma);
        while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
        if (!name.empty()) names.emplace_back(name);
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return names;
}

std::string PeerHost(std::string_view peer) {
    const std::size_t colon = peer.rfind(':');
    const std::string_view port = colon == std::string_view::npos ? std::string_view() : peer.substr(colon + 1);
    // A Unix socket's path ends in no port.
    const bool numbered = !port.empty() && port.find_first_not_of("0123456789") == std::string_view::npos &&
                          peer.substr(0, colon).find(':') != std::string_view::npos;
    return std::string(numbered ? peer.substr(0, colon) : peer);
}

}  // namespace qv::server
