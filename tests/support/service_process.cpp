#include "tests/support/service_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace qv::test {

namespace {

constexpr int kPollMs = 20;

std::vector<std::string> Qvservice(const std::vector<std::string>& args) {
  std::vector<std::string> command{QVSERVICE_PATH};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

}  // namespace

ToolResult RunQvservice(const std::vector<std::string>& args) { return RunProgram(Qvservice(args)); }

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  m_stderr = pipeFds[0];
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  try {
    m_pid = Spawn(Qvservice(args), devNull, devNull, pipeFds[1]);
  } catch (...) {
    close(devNull);
    close(pipeFds[1]);
    close(m_stderr);
    throw;
  }
  close(devNull);
  close(pipeFds[1]);
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
