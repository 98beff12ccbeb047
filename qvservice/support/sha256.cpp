#include "qvservice/support/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace qv::server {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context_);
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::Update(std::string_view bytes) {
    if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) throw std::runtime_error("SHA-256 failed");
}

Sha256::Digest Sha256::Final() {
    Digest digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_, digest.data(), &size) != 1 || size != digest.size()) {
        throw std::runtime_error("SHA-256 failed");
    }
    return digest;
}

}  // namespace qv::server
