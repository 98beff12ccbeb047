// A throw-away PostgreSQL cluster: data and Unix socket in a private folder under /tmp, no TCP port, run as an
// unprivileged user when the tests run as root (initdb refuses root).
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>
#include <mutex>
#include <string>
#include <vector>

namespace qv::test {

class PostgresCluster {
public:
    // Started on first use; stopped and removed at exit, or by its watchdog when the program dies.
    static PostgresCluster& Shared();

    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // False only without the server binaries (Unavailable() says why); Failure() tells why a present cluster failed.
    bool Available() const { return unavailable_.empty(); }
    const std::string& Unavailable() const { return unavailable_; }
    const std::string& Failure() const { return failure_; }

    // A new empty database as a libpq URI; throws std::runtime_error when the cluster does not run.
    std::string NewDatabase();
    // Kill() stops the server as a crash would; Restart() or NewDatabase() starts it again. Both throw with the log.
    void Kill();
    void Restart();

private:
    PostgresCluster();
    void Setup();
    void MakeFolder();
    void StartWatchdog();
    void Start();
    void CheckRunnable() const;
    // Runs pg_ctl ACTION -w on the data; throws with its output and the server's log on failure.
    void PgCtl(const std::string& action, const std::vector<std::string>& options);
    std::vector<std::string> AsServerUser(std::vector<std::string> command) const;
    std::string LogPath() const;

    std::mutex mutex_;
    std::string unavailable_;
    std::string failure_;
    std::string binDir_;
    std::string folder_;  // owned: removed by the watchdog
    uid_t uid_ = 0;       // whom initdb, pg_ctl and the server run as
    gid_t gid_ = 0;
    bool switchUser_ = false;
    pid_t owner_ = -1;  // the process that started the cluster
    pid_t watchdog_ = -1;
    int watchdogPipe_ = -1;  // its standard input: a line or end of file stops the cluster
    int nextDatabase_ = 0;
    bool running_ = false;
};

}  // namespace qv::test

// Skips the test when the server binaries are absent; fails it when they are present but do not start.
#define QV_REQUIRE_POSTGRES()                                                                  \
    do {                                                                                       \
        const auto& qvPostgresCluster = ::qv::test::PostgresCluster::Shared();                 \
        if (!qvPostgresCluster.Available()) GTEST_SKIP() << qvPostgresCluster.Unavailable();   \
        if (!qvPostgresCluster.Failure().empty()) GTEST_FAIL() << qvPostgresCluster.Failure(); \
    } while (false)
