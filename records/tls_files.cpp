#include "records/tls_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qv {

std::string ReadTlsFile(const std::string& path, const char* what) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read the ") + what + " " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// As ssh does: a private key that others can read is no longer private.
void CheckKeyFileMode(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return;
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        throw std::runtime_error("the TLS key " + path +
                                 " can be read by other users; make it the owner's alone (chmod 600 " + path + ")");
    }
}

}  // namespace qv
