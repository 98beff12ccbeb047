#pragma once
// The files of a client's TLS set-up as the operator names them: the CA that
// signed the service's certificate, and the caller's own certificate and
// key. Read into the PEM texts of a ChannelSecurity, with a reason that
// names the file when one cannot serve.
#include "platform/hresult.h"
#include "platform/remote_activation.h"

#include <string>

struct TlsFiles {
    std::string caFile;    // empty: plain text
    std::string certFile;  // with keyFile, or neither
    std::string keyFile;
};

enum class TlsFile { None, Ca, Cert, Key };

struct TlsFilesCheck {
    // 0x80070002 a file is missing, 0x80070005 unreadable, E_INVALIDARG a
    // file that holds no PEM of its kind or files that do not go together.
    HRESULT hr = S_OK;
    std::string problem;           // names the file
    TlsFile file = TlsFile::None;  // the one at fault
    std::string warning;           // the key file is readable by others; it still serves
};

// Fills security (emptied first) from the files.
TlsFilesCheck ReadTlsFiles(const TlsFiles& files, ChannelSecurity& security);

// Empty, or a sentence on why the private key file is not the owner's alone.
std::string KeyFileExposure(const std::string& keyFile);
