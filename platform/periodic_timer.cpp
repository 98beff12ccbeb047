#include "platform/periodic_timer.h"

CPeriodicTimer::CPeriodicTimer(std::chrono::milliseconds period, std::function<void()> tick)
    : period_(period), tick_(std::move(tick)), thread_([this] { Run(); }) {}

CPeriodicTimer::~CPeriodicTimer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopRequested_.notify_one();
    thread_.join();
}

void CPeriodicTimer::Run() {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now() + period_;
    std::unique_lock lock(mutex_);
    while (!stopRequested_.wait_until(lock, next, [this] { return stop_; })) {
        lock.unlock();
        tick_();
        lock.lock();
        next += period_;
        const auto now = Clock::now();
        if (next < now) next = now + period_;
    }
}
