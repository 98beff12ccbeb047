#include "qvservice/rpc/recorder_identity.h"

#include <grpc/grpc_security_constants.h>
#include <grpcpp/server_context.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace qv::server {

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

std::vector<Certificate> ReadCertificates(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot read the ") + what + " " + path);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::vector<Certificate> certificates;
    while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        certificates.emplace_back(certificate);
    }
    if (certificates.empty())
        throw std::runtime_error(std::string("the ") + what + " " + path + " holds no certificate");
    return certificates;
}

std::optional<std::string> CommonName(X509* certificate) {
    X509_NAME* subject = X509_get_subject_name(certificate);
    const int at = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (at < 0) return std::nullopt;
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at));
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                       static_cast<std::size_t>(ASN1_STRING_length(data)));
}

}  // namespace

struct RecorderIdentity::Store {
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> cas{X509_STORE_new(), X509_STORE_free};
};

RecorderIdentity::RecorderIdentity(const std::string& caFile, const std::string& otherCaFile)
    : store_(std::make_unique<Store>()) {
    const auto recorderCas = ReadCertificates(caFile, "recorder CA");
    if (!otherCaFile.empty()) {
        for (const auto& other : ReadCertificates(otherCaFile, "client CA")) {
            for (const auto& mine : recorderCas) {
                if (X509_cmp(other.get(), mine.get()) == 0) {
                    throw std::runtime_error(
                        "--recorder-ca and --client-ca hold the same CA: its certificates could both query and "
                        "record; give recorders a CA of their own");
                }
            }
        }
    }
    for (const auto& ca : recorderCas) X509_STORE_add_cert(store_->cas.get(), ca.get());
}

RecorderIdentity::RecorderIdentity() = default;
RecorderIdentity::~RecorderIdentity() = default;
RecorderIdentity::RecorderIdentity(RecorderIdentity&&) noexcept = default;
RecorderIdentity& RecorderIdentity::operator=(RecorderIdentity&&) noexcept = default;

std::optional<std::string> RecorderIdentity::ComputerOf(const grpc::ServerContext& context) const {
    if (!store_) return std::nullopt;
    const auto auth = context.auth_context();
    if (!auth) return std::nullopt;
    const auto pems = auth->FindPropertyValues(GRPC_X509_PEM_CERT_PROPERTY_NAME);
    if (pems.empty()) return std::nullopt;
    return ComputerOfPem(std::string(pems.front().data(), pems.front().size()));
}

std::optional<std::string> RecorderIdentity::ComputerOfPem(const std::string& certificatePem) const {
    if (!store_) return std::nullopt;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())), BIO_free);
    const Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) return std::nullopt;
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), X509_STORE_CTX_free);
    if (!context || X509_STORE_CTX_init(context.get(), store_->cas.get(), certificate.get(), nullptr) != 1) {
        return std::nullopt;
    }
    // Signed by the recorder CA itself: the handshake already checked dates
    // and usage against both CAs.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_CLIENT);
    if (X509_verify_cert(context.get()) != 1) return std::nullopt;
    return CommonName(certificate.get());
}

}  // namespace qv::server
