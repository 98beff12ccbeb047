// SHA-256 of a byte stream, fed in pieces: the fingerprint by which an
// import recognises a file it has loaded before.
#pragma once

#include <array>
#include <string_view>

struct evp_md_ctx_st;

namespace qv::server {

class Sha256 {
public:
    using Digest = std::array<unsigned char, 32>;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::string_view bytes);
    Digest Final();

private:
    evp_md_ctx_st* context_;  // owned
};

}  // namespace qv::server
