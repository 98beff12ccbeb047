#include "records/log.h"

#include <errno.h>  // program_invocation_short_name
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace qv {

bool IsJournalStream(const char* journalStream, int fd) {
    if (journalStream == nullptr) return false;
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    int consumed = 0;
    if (std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &consumed) != 2 ||
        journalStream[consumed] != '\0') {
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) return false;
    // A child whose standard error was redirected inherits the variable too.
    return status.st_dev == device && status.st_ino == inode;
}

std::string FormatLogLine(std::string_view message, bool toJournal, std::string_view program) {
    std::string line;
    if (!toJournal) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        line = std::string(stamp) + " ";
        line.append(program);
        line += ": ";
    }
    line.append(message);
    line.push_back('\n');
    return line;
}

void LogLine(std::string_view message) {
    static const bool toJournal = IsJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
    const std::string line = FormatLogLine(message, toJournal, program_invocation_short_name);
    // One write per line, so that lines from several threads never mix.
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

std::string Printable(std::string_view text, std::size_t maxBytes) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < maxBytes; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out.push_back(static_cast<char>(byte));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    if (text.size() > maxBytes) out += "...";
    return out;
}

}  // namespace qv
