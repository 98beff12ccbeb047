#include "tests/support/postgres_cluster.h"

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qv::test {

namespace fs = std::filesystem;

constexpr const char* kUser = "qvtest";
// The socket lives in a private folder, so the default port cannot clash.
constexpr const char* kPort = "5432";
constexpr const char* kWaitLimitSeconds = "60";
constexpr const char* kDebianRoot = "/usr/lib/postgresql";
// At a line or the end of its input (the test program ends), stops the server ($1 pg_ctl, $2 folder) and removes it.
constexpr const char* kWatchdogScript =
    "read -r _; \"$1\" stop -D \"$2/data\" -m immediate -w -t \"$3\" >/dev/null 2>&1; rm -rf \"$2\"";

static std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

static bool HasServerTools(const fs::path& dir) {
    return access((dir / "initdb").c_str(), X_OK) == 0 && access((dir / "pg_ctl").c_str(), X_OK) == 0;
}

// Debian's newest /usr/lib/postgresql/VERSION/bin first: PATH may hold stray links to another version.
static std::string FindServerTools() {
    std::error_code error;
    double best = 0;
    std::string found;
    for (const auto& entry : fs::directory_iterator(kDebianRoot, error)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const double version = std::strtod(name.c_str(), &end);
        if (std::isdigit(static_cast<unsigned char>(name[0])) && *end == '\0' && version > best &&
            HasServerTools(entry.path() / "bin")) {
            best = version;
            found = (entry.path() / "bin").string();
        }
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; found.empty() && std::getline(dirs, dir, ':');) {
        if (!dir.empty() && HasServerTools(dir)) found = dir;
    }
    return found;
}

// Removes the folder of a cluster that did not start; the error that stopped it is the one to report.
[[noreturn]] static void Abandon(const std::string& folder, const std::string& error) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    throw std::runtime_error(error);
}

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
    // A line wakes the watchdog even while a forked child holds the pipe; else close()'s end of file does.
    const char line = '\n';
    [[maybe_unused]] const ssize_t written = write(watchdogPipe_, &line, 1);
    close(watchdogPipe_);
    while (waitpid(watchdog_, nullptr, 0) < 0 && errno == EINTR) {}
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
    conf << "\nlisten_addresses = ''\nunix_socket_directories = '" << folder_ << "/sock'\nport = " << kPort
         << "\nfsync = off\nfull_page_writes = off\nmax_connections = 200\n";
    conf.close();
    if (!conf) throw std::runtime_error("cannot write " + data + "/postgresql.conf");
    Start();
}

void PostgresCluster::MakeFolder() {
    std::string pattern = "/tmp/qv-pg-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error(Errno("cannot make " + pattern));
    folder_ = pattern;
    for (const std::string& dir : {folder_, folder_ + "/sock"}) {
        if (dir != folder_ && mkdir(dir.c_str(), 0700) != 0) Abandon(folder_, Errno("cannot make " + dir));
        if (switchUser_ && chown(dir.c_str(), uid_, gid_) != 0) {
            Abandon(folder_, Errno("cannot hand " + dir + " over to the server's user"));
        }
    }
}

void PostgresCluster::StartWatchdog() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error(Errno("cannot make the watchdog's pipe"));
    watchdogPipe_ = ends[1];
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    // Its own session: a Ctrl-C or a kill of the test's process group must leave it alive to clean up after the test.
    const std::vector<std::string> watchdog{"/bin/sh",           "-c",    kWatchdogScript,  "qv-pg-watchdog",
                                            binDir_ + "/pg_ctl", folder_, kWaitLimitSeconds};
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
        Abandon(folder_, error);
    }
}

std::vector<std::string> PostgresCluster::AsServerUser(std::vector<std::string> command) const {
    if (!switchUser_) return command;
    // In "/": the server's user may not enter the test's working folder.
    std::vector<std::string> switched{
        "setpriv",  "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_), "--clear-groups", "--", "env",
        "--chdir=/"};
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
    const std::string name = "qv_" + std::to_string(++nextDatabase_), sockets = folder_ + "/sock";
    const ToolResult made = RunProgram({binDir_ + "/createdb", "-h", sockets, "-p", kPort, "-U", kUser, name}, true);
    if (made.exitCode != 0) throw std::runtime_error("cannot create database " + name + ": " + made.out);
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
