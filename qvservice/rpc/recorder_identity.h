// Which callers are recorders: those whose client certificate the recorder
// CA signed. gRPC verified every presented certificate against the viewers'
// and the recorders' CAs together; this tells the two apart, so that a
// recorder cannot query and a viewer cannot record.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace grpc {
class ServerContext;
}

namespace qv::server {

class RecorderIdentity {
public:
    // No recorder CA: nobody is a recorder.
    RecorderIdentity();
    // Throws std::runtime_error when the file holds no certificate, or one
    // that otherFile (the viewers' CA, may be empty) holds too.
    RecorderIdentity(const std::string& caFile, const std::string& otherCaFile);
    ~RecorderIdentity();
    RecorderIdentity(RecorderIdentity&&) noexcept;
    RecorderIdentity& operator=(RecorderIdentity&&) noexcept;

    bool Enabled() const { return store_ != nullptr; }
    // The computer the caller's certificate names when the recorder CA
    // signed it; nothing for any other caller.
    std::optional<std::string> ComputerOf(const grpc::ServerContext& context) const;
    std::optional<std::string> ComputerOfPem(const std::string& certificatePem) const;

private:
    struct Store;
    std::unique_ptr<Store> store_;
};

}  // namespace qv::server
