// The thread that empties the spool into the service, oldest records first,
// in bounded batches. A record leaves the spool only once the service has
// acknowledged it; a batch the service calls bad is set aside, so that it
// never blocks the records behind it. Programs' icons go along with the first
// batch that names the program, and again whenever the service says it lacks
// one; an icon never holds back a record.
#pragma once

#include "qvrecorder/backoff.h"
#include "qvrecorder/service_link.h"
#include "qvrecorder/spool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qv::recorder {

struct ForwarderLimits {
    std::size_t batchRecords = 1000;
    std::size_t batchBytes = 1 << 20;
    // Well within the service's 8 MB a call, with a batch's records.
    std::size_t batchIconBytes = 4 << 20;
    std::chrono::seconds callDeadline{60};
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds maxRetry{300'000};
};

class Forwarder {
public:
    Forwarder(Spool& spool, ServiceLink& link, std::string server, ForwarderLimits limits);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // New records wait; does not cut short a wait after a failure.
    void Wake();
    // Abandons the call in flight (its records stay in the spool) and ends the thread.
    void Stop();
    // Whether the last exchange with the service went through; nothing before the first.
    std::optional<bool> Connected() const {
        const State state = state_;
        return state == State::Unknown ? std::nullopt : std::optional<bool>(state == State::Connected);
    }

private:
    enum class State { Unknown, Connected, Lost };
    enum class Outcome { Empty, Sent, Failed };

    void Run();
    Outcome SendOldest();
    Outcome SendAskedIcons();
    Outcome Delivered();
    void Lost(const std::string& error);
    void Note(const std::string& error);

    Spool& spool_;
    ServiceLink& link_;
    std::string server_;
    ForwarderLimits limits_;
    Backoff backoff_;
    std::atomic<State> state_{State::Unknown};
    std::string lastNoted_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = true;  // records may wait
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qv::recorder
