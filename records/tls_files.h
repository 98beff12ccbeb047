// The TLS files that the service and the recorder both read: PEM text, and a
// private key that must be its owner's alone.
#pragma once

#include <string>

namespace qv {

// The whole file; what names it in the error ("TLS key", "CA file"...).
std::string ReadTlsFile(const std::string& path, const char* what);

// Throws when others than the owner can read the key file. A file that cannot
// be examined passes: reading it then says why.
void CheckKeyFileMode(const std::string& path);

}  // namespace qv
