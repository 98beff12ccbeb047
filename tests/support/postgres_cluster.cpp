#include "tests/support/postgres_cluster.h"

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qv::test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "qvtest";
// The socket lives in a private folder, so the default port cannot clash.
constexpr const char* kPort = "5432";
constexpr const char* kWaitLimitSeconds = "60";
constexpr const char* kDebianRoot = "/usr/lib/postgresql";
constexpr std::size_t kMaxVersionDigits = 4;
// Runs in the watchdog: waits for a line or the end of its input, which comes
// when the test program exits or dies, then stops the server and removes the
// folder. $1 is pg_ctl, $2 the folder, $3 how long pg_ctl may wait.
constexpr const char* kWatchdogScript =
    "read -r _; \"$1\" stop -D \"$2/data\" -m immediate -w -t \"$3\" >/dev/null 2>&1; rm -rf \"$2\"";

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

bool HasServerTools(const fs::path& dir) {
  return access((dir / "initdb").c_str(), X_OK) == 0 && access((dir / "pg_ctl").c_str(), X_OK) == 0;
}

// "15" -> {15}, "9.6" -> {9, 6}; empty when the name is no version.
std::vector<int> VersionOf(const std::string& name) {
  std::vector<int> parts;
  std::istringstream in(name);
  for (std::string part; std::getline(in, part, '.');) {
    const bool digits = std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (part.empty() || part.size() > kMaxVersionDigits || !digits) return {};
    parts.push_back(std::stoi(part));
  }
  return parts;
}

// Debian keeps each major version's server programs off PATH, and a PATH may
// hold stray links to another version, so PATH comes last.
std::string FindServerTools() {
  std::error_code error;
  std::vector<int> best;
  std::string found;
  for (const auto& entry : fs::directory_iterator(kDebianRoot, error)) {
    const std::vector<int> version = VersionOf(entry.path().filename().string());
    if (!version.empty() && version > best && HasServerTools(entry.path() / "bin")) {
      best = version;
      found = (entry.path() / "bin").string();
    }
  }
  if (!found.empty()) return found;

  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && HasServerTools(dir)) return dir;
  }
  return {};
}

}  // namespace

PostgresCluster& PostgresCluster::Shared() {
  static PostgresCluster cluster;
  return cluster;
}

PostgresCluster::PostgresCluster() {
  try {
    Setup();
  } catch (const std::exception& e) {
    failure_ = std::string("the test PostgreSQL cluster did not start: ") + e.what();
  }
}

PostgresCluster::~PostgresCluster() {
  // A forked child that exits must not stop the cluster of its parent.
  if (watchdog_ < 0 || getpid() != owner_) return;
  // A line wakes the watchdog even while a forked child still holds the
  // pipe; should the write fail, the end of file from close() does the same.
  const char line = '\n';
  [[maybe_unused]] const ssize_t written = write(watchdogPipe_, &line, 1);
  close(watchdogPipe_);
  while (waitpid(watchdog_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void PostgresCluster::Setup() {
  binDir_ = FindServerTools();
  if (binDir_.empty()) {
    unavailable_ =
        "PostgreSQL server binaries (initdb, pg_ctl) not found in /usr/lib/postgresql/*/bin "
        "or PATH (install Debian's postgresql package)";
    return;
  }
  owner_ = getpid();
  // initdb and the server refuse to run as root.
  if (geteuid() == 0) {
    const passwd* account = getpwnam("postgres");
    if (account == nullptr) account = getpwnam("nobody");
    if (account == nullptr) throw std::runtime_error("running as root, and there is no user postgres or nobody");
    uid_ = account->pw_uid;
    gid_ = account->pw_gid;
    switchUser_ = true;
  }
  MakeFolder();
  StartWatchdog();

  const std::string data = folder_ + "/data";
  const ToolResult initdb = RunProgram(AsServerUser({binDir_ + "/initdb", "-D", data, "--auth=trust", "-U", kUser,
                                                     "--encoding=UTF8", "--locale=C", "--no-sync"}),
                                        true);
  if (initdb.exitCode != 0) {
    throw std::runtime_error("initdb failed (exit " + std::to_string(initdb.exitCode) + "):\n" + initdb.out);
  }
  // Fast and throw-away: no TCP, no durability; services under test open many connections.
  std::ofstream conf(data + "/postgresql.conf", std::ios::app);
  conf << "\nlisten_addresses = ''\n"
       << "unix_socket_directories = '" << folder_ << "/sock'\n"
       << "port = " << kPort << "\n"
       << "fsync = off\n"
       << "full_page_writes = off\n"
       << "max_connections = 200\n"
       << "shared_buffers = 32MB\n";
  conf.close();
  if (!conf) throw std::runtime_error("cannot write " + data + "/postgresql.conf");
  Start();
}

void PostgresCluster::MakeFolder() {
  std::string pattern = "/tmp/qv-pg-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(Errno("cannot make " + pattern));
  folder_ = pattern;
  const std::string sockets = folder_ + "/sock";
  std::string error;
  if (mkdir(sockets.c_str(), 0700) != 0) error = Errno("cannot make " + sockets);
  for (const std::string& dir : {folder_, sockets}) {
    if (error.empty() && switchUser_ && chown(dir.c_str(), uid_, gid_) != 0) {
      error = Errno("cannot hand " + dir + " over to the server's user");
    }
  }
  if (!error.empty()) {
    std::error_code ignored;  // the error that stops the start is the one to report
    fs::remove_all(folder_, ignored);
    throw std::runtime_error(error);
  }
}

void PostgresCluster::StartWatchdog() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(Errno("cannot make the watchdog's pipe"));
  watchdogPipe_ = ends[1];
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  // Its own session: a Ctrl-C or a kill of the test's process group must
  // leave it alive to clean up after the test.
  const std::vector<std::string> watchdog{
      "/bin/sh", "-c", kWatchdogScript, "qv-pg-watchdog", binDir_ + "/pg_ctl", folder_, kWaitLimitSeconds};
  std::string error;
  try {
    watchdog_ = Spawn(AsServerUser(watchdog), ends[0], devNull, devNull, true);
  } catch (const std::exception& failed) {
    error = failed.what();
  }
  close(ends[0]);
  close(devNull);
  if (!error.empty()) {
    close(watchdogPipe_);
    std::error_code ignored;  // the error that stops the start is the one to report
    fs::remove_all(folder_, ignored);
    throw std::runtime_error(error);
  }
}

std::vector<std::string> PostgresCluster::AsServerUser(std::vector<std::string> command) const {
  if (!switchUser_) return command;
  // In "/": the server's user may not enter the test's working folder.
  std::vector<std::string> switched{"setpriv", "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_),
                                    "--clear-groups", "--", "env", "--chdir=/"};
  switched.insert(switched.end(), command.begin(), command.end());
  return switched;
}

std::string PostgresCluster::LogPath() const { return folder_ + "/server.log"; }

void PostgresCluster::PgCtl(const std::string& action, const std::vector<std::string>& options) {
  std::vector<std::string> command{binDir_ + "/pg_ctl", action, "-D", folder_ + "/data", "-w", "-t",
                                   kWaitLimitSeconds};
  command.insert(command.end(), options.begin(), options.end());
  const ToolResult outcome = RunProgram(AsServerUser(command), true);
  if (outcome.exitCode != 0) {
    throw std::runtime_error("pg_ctl " + action + " failed (exit " + std::to_string(outcome.exitCode) + "):\n" +
                             outcome.out + "\nserver log " + LogPath() + ":\n" + ReadFile(LogPath()));
  }
}

void PostgresCluster::Start() {
  PgCtl("start", {"-l", LogPath()});
  running_ = true;
}

void PostgresCluster::CheckRunnable() const {
  if (!Available()) throw std::runtime_error(unavailable_);
  if (!failure_.empty()) throw std::runtime_error(failure_);
}

std::string PostgresCluster::NewDatabase() {
  const std::lock_guard lock(mutex_);
  CheckRunnable();
  // A test that failed between Kill() and Restart() must not take the later tests down with it.
  if (!running_) Start();
  const std::string name = "qv_" + std::to_string(++nextDatabase_);
  const std::string sockets = folder_ + "/sock";
  const char* keys[] = {"host", "port", "user", "dbname", nullptr};
  const char* values[] = {sockets.c_str(), kPort, kUser, "postgres", nullptr};
  const std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdbParams(keys, values, 0), &PQfinish);
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    throw std::runtime_error("cannot connect to the test PostgreSQL cluster: " +
                             std::string(PQerrorMessage(connection.get())));
  }
  const std::unique_ptr<PGresult, decltype(&PQclear)> created(
      PQexec(connection.get(), ("CREATE DATABASE " + name).c_str()), &PQclear);
  if (PQresultStatus(created.get()) != PGRES_COMMAND_OK) {
    throw std::runtime_error("cannot create database " + name + ": " + PQerrorMessage(connection.get()));
  }
  // mkdtemp names the folder from letters and digits only: nothing to escape.
  return "postgresql:///" + name + "?host=" + sockets + "&port=" + kPort + "&user=" + kUser;
}

void PostgresCluster::Kill() {
  const std::lock_guard lock(mutex_);
  CheckRunnable();
  if (!running_) return;
  PgCtl("stop", {"-m", "immediate"});
  running_ = false;
}

void PostgresCluster::Restart() {
  const std::lock_guard lock(mutex_);
  CheckRunnable();
  if (!running_) Start();
}

}  // namespace qv::test
