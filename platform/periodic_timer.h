#pragma once
// A periodic timer on its own thread, standing in for a multimedia timer:
// it calls its tick function every period until destroyed. A tick that comes
// late is not made up for by a burst of ticks.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CPeriodicTimer {
public:
    CPeriodicTimer(std::chrono::milliseconds period, std::function<void()> tick);
    ~CPeriodicTimer();  // stops the thread and waits for it

    CPeriodicTimer(const CPeriodicTimer&) = delete;
    CPeriodicTimer& operator=(const CPeriodicTimer&) = delete;

private:
    void Run();

    std::chrono::milliseconds period_;
    std::function<void()> tick_;
    std::mutex mutex_;
    std::condition_variable stopRequested_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once the members above exist
};
