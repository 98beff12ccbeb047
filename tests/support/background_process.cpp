#include "tests/support/background_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace qv::test {

namespace {

constexpr int kPollMs = 20;

}  // namespace

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& command) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    stderr_ = ends[0];
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    try {
        pid_ = Spawn(command, devNull, devNull, ends[1]);
    } catch (...) {
        close(devNull);
        close(ends[1]);
        close(stderr_);
        throw;
    }
    close(devNull);
    close(ends[1]);
}

BackgroundProcess::~BackgroundProcess() {
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(stderr_);
}

bool BackgroundProcess::ReadLog(int timeoutMs) {
    pollfd fd{stderr_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(stderr_, buffer, sizeof buffer);
    if (n > 0) log_.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

bool BackgroundProcess::WaitForLog(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (log_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline || !ReadLog(kPollMs)) return false;
    }
    return true;
}

int BackgroundProcess::Stop(int signal, std::chrono::milliseconds limit) {
    if (!exited_) kill(pid_, signal);
    return WaitForExit(limit);
}

int BackgroundProcess::WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exited_ && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = ExitCode(status);
            break;
        }
        if (!ReadLog(kPollMs)) poll(nullptr, 0, kPollMs);
    }
    while (exited_ && ReadLog(0)) {
        pollfd fd{stderr_, POLLIN, 0};
        if (poll(&fd, 1, 0) <= 0) break;
    }
    return exited_ ? exitCode_ : -1;
}

}  // namespace qv::test
