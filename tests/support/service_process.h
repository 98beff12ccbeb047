// qvservice run by the tests: a one-shot command, or the service in the background, watched through its stderr.
#pragma once

#include "tests/support/child_process.h"

#include <sys/types.h>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// Runs qvservice with the arguments and waits for it to end.
ToolResult RunQvservice(const std::vector<std::string>& args);

class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& args);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The address the service announces, once it listens; empty when it ends or stays silent for the whole limit.
    std::string WaitUntilListening(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // The same, but throws with the log when there is none: the test fails, saying why.
    std::string ListeningAddress();
    // Sends the signal and returns the exit code (-1 if it does not end in time).
    int Stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(30));
    int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(30));
    const std::string& Log() const { return log_; }
    pid_t Pid() const { return pid_; }

private:
    // Reads what standard error holds, waiting at most timeoutMs; false at its end.
    bool ReadLog(int timeoutMs);

    pid_t pid_ = -1;
    int stderr_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string log_;
};

// `qvservice serve` on the store and a free loopback port; ListeningAddress() tells its address.
std::unique_ptr<ServiceProcess> Serve(const std::string& store, const std::vector<std::string>& extra = {});

}  // namespace qv::test
