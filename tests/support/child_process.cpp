#include "tests/support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qv::test {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {
        if (fd < 0) throw std::runtime_error(std::string("cannot prepare a child's streams: ") + std::strerror(errno));
    }
    ~Fd() { close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& command, int in, int out, int err, bool ownSession) {
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Signals the test program ignores or blocks (gRPC ignores SIGPIPE) would otherwise stay so in the child.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | (ownSession ? POSIX_SPAWN_SETSID : 0));

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot run " + command[0] + ": " + std::strerror(rc));
    return pid;
}

int ExitCode(int waitStatus) { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus); }

ToolResult RunProgram(const std::vector<std::string>& command, bool mergeErr) {
    const Fd in(open("/dev/null", O_RDONLY | O_CLOEXEC));
    // Memory files, not pipes: a server the command leaves running may keep a write end open for ever.
    const Fd out(memfd_create("qv-test-out", MFD_CLOEXEC));
    const Fd err(memfd_create("qv-test-err", MFD_CLOEXEC));
    const pid_t pid = Spawn(command, in.Get(), out.Get(), mergeErr ? out.Get() : err.Get());
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return {ExitCode(status), ReadAll(out.Get()), ReadAll(err.Get())};
}

static std::string ReadWhole(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, offset)) > 0; offset += n) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

ToolResult RunWithInput(const std::vector<std::string>& command, const std::string& inputFile) {
    const int in = open(inputFile.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = memfd_create("qv-test-out", MFD_CLOEXEC);
    const int err = memfd_create("qv-test-err", MFD_CLOEXEC);
    ToolResult result;
    if (in >= 0 && out >= 0 && err >= 0) {
        const pid_t pid = Spawn(command, in, out, err);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        result = {ExitCode(status), ReadWhole(out), ReadWhole(err)};
    }
    for (const int fd : {in, out, err}) {
        if (fd >= 0) close(fd);
    }
    if (in < 0 || out < 0 || err < 0) throw std::runtime_error("cannot prepare the streams of " + command[0]);
    return result;
}

}  // namespace qv::test
