#include "tests/support/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace qv::test {

constexpr int kPollMs = 20;

static std::vector<std::string> Qvservice(const std::vector<std::string>& args) {
    std::vector<std::string> command{QVSERVICE_PATH};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

ToolResult RunQvservice(const std::vector<std::string>& args) { return RunProgram(Qvservice(args)); }

std::unique_ptr<ServiceProcess> Serve(const std::string& store, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"serve", "--store", store};
    if (std::find(extra.begin(), extra.end(), "--listen") == extra.end())
        args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ServiceProcess>(args);
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
    stderr_ = pipeFds[0];
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    try {
        pid_ = Spawn(Qvservice(args), devNull, devNull, pipeFds[1]);
    } catch (...) {
        close(devNull);
        close(pipeFds[1]);
        close(stderr_);
        throw;
    }
    close(devNull);
    close(pipeFds[1]);
}

ServiceProcess::~ServiceProcess() {
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (stderr_ >= 0) close(stderr_);
}

bool ServiceProcess::ReadLog(int timeoutMs) {
    pollfd fd{stderr_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(stderr_, buffer, sizeof buffer);
    if (n > 0) log_.append(buffer, static_cast<std::size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

std::string ServiceProcess::WaitUntilListening(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    static const std::string kMark = "listening on ";
    while (std::chrono::steady_clock::now() < deadline) {
        if (const std::size_t at = log_.find(kMark); at != std::string::npos) {
            const std::size_t end = log_.find_first_of(",\n", at);
            if (end != std::string::npos) return log_.substr(at + kMark.size(), end - at - kMark.size());
        }
        if (!ReadLog(kPollMs)) return {};
    }
    return {};
}

std::string ServiceProcess::ListeningAddress() {
    std::string address = WaitUntilListening();
    if (address.empty()) throw std::runtime_error("qvservice does not listen: " + log_);
    return address;
}

int ServiceProcess::Stop(int signal, std::chrono::milliseconds limit) {
    if (!exited_) kill(pid_, signal);
    return WaitForExit(limit);
}

int ServiceProcess::WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!exited_ && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = ExitCode(status);
            break;
        }
        // At the end of standard error there is nothing to wait on but the exit itself.
        if (!ReadLog(kPollMs)) poll(nullptr, 0, kPollMs);
    }
    pollfd fd{stderr_, POLLIN, 0};
    while (exited_ && poll(&fd, 1, 0) > 0 && ReadLog(0)) {}
    return exited_ ? exitCode_ : -1;
}

}  // namespace qv::test
