// The computer's identity towards the service: its certificate and key, and
// the CA that signed the service's certificate. The certificate's common
// name is the computer's name.
#pragma once

#include <string>

namespace qv::recorder {

struct TlsIdentity {
    std::string caPem;
    std::string certPem;
    std::string keyPem;
    std::string computer;
};

// Throws std::runtime_error naming the file at fault: unreadable, not PEM of
// its kind, a key others can read, or a key that is not the certificate's.
TlsIdentity LoadTlsIdentity(const std::string& caFile, const std::string& certFile, const std::string& keyFile);

}  // namespace qv::recorder
