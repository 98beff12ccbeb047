#include "platform/tls_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr HRESULT kFileNotFound = MakeHResult(0x80070002);
constexpr std::string_view kCertificateMarker = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kKeyMarker = "PRIVATE KEY-----";

TlsFilesCheck Problem(HRESULT hr, TlsFile file, std::string problem) {
    TlsFilesCheck check;
    check.hr = hr;
    check.file = file;
    check.problem = std::move(problem);
    return check;
}

// Reads one named file and checks that it holds PEM with the marker.
TlsFilesCheck ReadPem(TlsFile file, const std::string& path, const std::string& what, std::string_view marker,
                      std::string& pem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        return Problem(error == ENOENT || error == ENOTDIR ? kFileNotFound : E_ACCESSDENIED, file,
                       "cannot read the " + what + " " + path + ": " + std::strerror(error));
    }
    std::ostringstream text;
    text << in.rdbuf();
    pem = text.str();
    if (pem.find(marker) == std::string::npos)
        return Problem(E_INVALIDARG, file, "the " + what + " " + path + " holds no \"" + std::string(marker) + "\"");
    return {};
}

}  // namespace

TlsFilesCheck ReadTlsFiles(const TlsFiles& files, ChannelSecurity& security) {
    security = {};
    if (files.caFile.empty() && files.certFile.empty() && files.keyFile.empty()) return {};
    if (files.caFile.empty())
        return Problem(E_INVALIDARG, TlsFile::Ca,
                       "a client certificate needs the CA file of the service's certificate");
    if (files.certFile.empty() != files.keyFile.empty()) {
        const bool noCertificate = files.certFile.empty();
        return Problem(E_INVALIDARG, noCertificate ? TlsFile::Cert : TlsFile::Key,
                       std::string("the client certificate and its key file go together; the ") +
                           (noCertificate ? "certificate" : "key") + " file is missing");
    }
    TlsFilesCheck check = ReadPem(TlsFile::Ca, files.caFile, "CA file", kCertificateMarker, security.caPem);
    if (Succeeded(check.hr) && !files.certFile.empty())
        check = ReadPem(TlsFile::Cert, files.certFile, "certificate file", kCertificateMarker, security.certPem);
    if (Succeeded(check.hr) && !files.keyFile.empty()) {
        check = ReadPem(TlsFile::Key, files.keyFile, "key file", kKeyMarker, security.keyPem);
        if (Succeeded(check.hr)) check.warning = KeyFileExposure(files.keyFile);
    }
    if (Failed(check.hr)) security = {};
    return check;
}

std::string KeyFileExposure(const std::string& keyFile) {
    struct stat status {};
    if (::stat(keyFile.c_str(), &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) == 0) return {};
    return "The private key file " + keyFile + " can be read by other users; make it yours alone (chmod 600).";
}
