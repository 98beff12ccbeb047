#include "foundation/stream_writers.h"

#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

// Writes all bytes to a descriptor; failures drop the rest. A reader that
// has gone (a closed pipe) must not end the process with SIGPIPE, so the
// signal is blocked on this thread for the write and a SIGPIPE it raised is
// taken back before the mask is restored.
void WriteAll(int fd, const char* bytes, std::size_t count) noexcept {
    sigset_t pipeOnly;
    sigset_t previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool pipeWasPending = sigismember(&pending, SIGPIPE) == 1;

    bool brokenPipe = false;
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            brokenPipe = errno == EPIPE;
            break;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }

    if (brokenPipe && !pipeWasPending) {
        const timespec noWait{};
        while (sigtimedwait(&pipeOnly, nullptr, &noWait) < 0 && errno == EINTR) {}
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Creates every missing directory of the file's path (mode 0700, as the XDG
// base directory rules ask for the state directory).
void MakeParentDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        return home;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

void TFileWriter::Write(const char* bytes, std::uint32_t count) noexcept {
    if (path_.empty()) {
        return;
    }
    // Mode "a+" as the original; "e" keeps the descriptor out of children.
    std::FILE* file = std::fopen(path_.c_str(), "a+e");
    if (!file && errno == ENOENT) {
        MakeParentDirectories(path_);
        file = std::fopen(path_.c_str(), "a+e");
    }
    if (!file) {
        return;
    }
    std::fwrite(bytes, 1, count, file);
    std::fclose(file);
}

TConsoleWriter::TConsoleWriter() noexcept : fd_(STDOUT_FILENO) {}

void TConsoleWriter::Write(const char* bytes, std::uint32_t count) noexcept { WriteAll(fd_, bytes, count); }

void TDebugWriter::Write(const char* bytes, std::uint32_t count) noexcept { WriteAll(STDERR_FILENO, bytes, count); }

std::string DefaultErrorLogPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string directory;
    if (state && state[0] == '/') {
        directory = state;
    } else {
        std::string home = HomeDirectory();
        if (home.empty()) {
            return {};
        }
        directory = home + "/.local/state";
    }
    return directory + "/qvviewer/error.log";
}
