#include "qvservice/support/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace qv::server {

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) {
  if (!m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(m_context);
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(m_context); }

void Sha256::Update(std::string_view bytes) {
  if (EVP_DigestUpdate(m_context, bytes.data(), bytes.size()) != 1) throw std::runtime_error("SHA-256 failed");
}

Sha256::Digest Sha256::Final() {
  Digest digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(m_context, digest.data(), &size) != 1 || size != digest.size()) {
    throw std::runtime_error("SHA-256 failed");
  }
  return digest;
}

}  // namespace qv::server
