#include "service_process.h"

#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace qv::test {

namespace {

constexpr int kPollMs = 20;

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd) {
  std::vector<std::string> all{QVSERVICE_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, QVSERVICE_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + std::string(QVSERVICE_PATH));
  return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ToolResult RunQvservice(const std::vector<std::string>& args) {
  const TempDir dir;
  const std::string outPath = dir.File("stdout");
  const std::string errPath = dir.File("stderr");
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (out < 0 || err < 0) throw std::runtime_error("cannot make the output files of qvservice");
  ToolResult result;
  const pid_t pid = Spawn(args, out, err);
  close(out);
  close(err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = ExitCode(status);
  result.out = Slurp(outPath);
  result.err = Slurp(errPath);
  return result;
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  m_pid = Spawn(args, devNull, pipeFds[1]);
  close(devNull);
  close(pipeFds[1]);
  m_stderr = pipeFds[0];
}

ServiceProcess::~ServiceProcess() {
  if (!m_exited && m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_stderr >= 0) close(m_stderr);
}

bool ServiceProcess::ReadLog(int timeoutMs) {
  pollfd fd{m_stderr, POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) <= 0) return true;
  char buffer[4096];
  const ssize_t n = read(m_stderr, buffer, sizeof buffer);
  if (n > 0) m_log.append(buffer, static_cast<std::size_t>(n));
  return n > 0 || (n < 0 && errno == EINTR);
}

std::string ServiceProcess::WaitUntilListening(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  static const std::string kMark = "listening on ";
  while (std::chrono::steady_clock::now() < deadline) {
    if (const std::size_t at = m_log.find(kMark); at != std::string::npos) {
      const std::size_t end = m_log.find_first_of(",\n", at);
      if (end != std::string::npos) return m_log.substr(at + kMark.size(), end - at - kMark.size());
    }
    if (!ReadLog(kPollMs)) return {};
  }
  return {};
}

int ServiceProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (!m_exited) kill(m_pid, signal);
  return WaitForExit(limit);
}

int ServiceProcess::WaitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!m_exited && std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_exited = true;
      m_exitCode = ExitCode(status);
      break;
    }
    // At the end of standard error there is nothing to wait on but the exit itself.
    if (!ReadLog(kPollMs)) poll(nullptr, 0, kPollMs);
  }
  if (m_exited) {
    pollfd fd{m_stderr, POLLIN, 0};
    char buffer[4096];
    ssize_t n = 0;
    while (poll(&fd, 1, 0) > 0 && (n = read(m_stderr, buffer, sizeof buffer)) > 0) {
      m_log.append(buffer, static_cast<std::size_t>(n));
    }
  }
  return m_exited ? m_exitCode : -1;
}

}  // namespace qv::test
