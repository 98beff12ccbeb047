#include "qvrecorder/tls_identity.h"

#include "records/activity_record.h"
#include "records/log.h"
#include "records/tls_files.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace qv::recorder {

namespace {

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Bio MemoryBio(const std::string& pem) {
    return Bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
}

Certificate ReadCertificate(const std::string& pem, const std::string& path, const char* what) {
    Bio bio = MemoryBio(pem);
    Certificate certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
    if (!certificate) throw std::runtime_error(std::string("the ") + what + " " + path + " holds no PEM certificate");
    return certificate;
}

std::string CommonName(X509* certificate, const std::string& path) {
    X509_NAME* subject = X509_get_subject_name(certificate);
    const int index = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    unsigned char* utf8 = nullptr;
    const int length =
        index < 0 ? -1 : ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length <= 0) {
        OPENSSL_free(utf8);
        throw std::runtime_error("the certificate " + path + " names no computer (its subject has no common name)");
    }
    std::string name(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    if (name.size() > kMaxTextBytes || Printable(name, name.size()) != name) {
        throw std::runtime_error("the certificate " + path + " names the computer '" + Printable(name) +
                                 "', which is not a printable name");
    }
    return name;
}

}  // namespace

TlsIdentity LoadTlsIdentity(const std::string& caFile, const std::string& certFile, const std::string& keyFile) {
    TlsIdentity identity;
    identity.caPem = ReadTlsFile(caFile, "CA file");
    ReadCertificate(identity.caPem, caFile, "CA file");
    identity.certPem = ReadTlsFile(certFile, "certificate");
    const Certificate certificate = ReadCertificate(identity.certPem, certFile, "certificate");
    CheckKeyFileMode(keyFile);
    identity.keyPem = ReadTlsFile(keyFile, "TLS key");
    Bio bio = MemoryBio(identity.keyPem);
    // No pass phrase: OpenSSL would otherwise ask for one on the terminal.
    pem_password_cb* noPassPhrase = [](char*, int, int, void*) { return 0; };
    const Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassPhrase, nullptr) : nullptr, &EVP_PKEY_free);
    if (!key) throw std::runtime_error("the TLS key " + keyFile + " holds no PEM private key (without a pass phrase)");
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        throw std::runtime_error("the TLS key " + keyFile + " is not the key of the certificate " + certFile);
    }
    identity.computer = CommonName(certificate.get(), certFile);
    return identity;
}

}  // namespace qv::recorder
