// A program the tests run in the background (qvservice serve, qvrecorder
// daemon), watched through its standard error.
#pragma once

#include "tests/support/child_process.h"

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

namespace qv::test {

class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& command);
    // Kills it if it still runs.
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // True once its log holds the text; false when it ends or the limit passes first.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Sends the signal and returns the exit code (-1 if it does not end in time).
    int Stop(int signal, std::chrono::milliseconds limit = std::chrono::seconds(60));
    int WaitForExit(std::chrono::milliseconds limit = std::chrono::seconds(60));
    const std::string& Log() const { return log_; }

    pid_t Pid() const { return pid_; }

protected:
    // Reads what standard error holds, waiting at most timeoutMs; false at its end.
    bool ReadLog(int timeoutMs);

    pid_t pid_ = -1;
    int stderr_ = -1;
    bool exited_ = false;
    int exitCode_ = -1;
    std::string log_;
};

}  // namespace qv::test
