#include "qvservice/rpc/call_watchdog.h"

namespace qv::server {

CallWatchdog::CallWatchdog(std::chrono::milliseconds limit) : limit_(limit), thread_([this] { Run(); }) {}

CallWatchdog::~CallWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::unique_ptr<CallWatchdog::Watch> CallWatchdog::Start(grpc::ServerContext& context) {
    auto expired = std::make_shared<std::atomic<bool>>(false);
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        calls_.emplace(id, Entry{std::chrono::steady_clock::now() + limit_, &context, expired});
    }
    changed_.notify_all();
    return std::unique_ptr<Watch>(new Watch(*this, id, std::move(expired)));
}

CallWatchdog::Watch::~Watch() {
    std::lock_guard lock(dog_.mutex_);
    dog_.calls_.erase(id_);
}

void CallWatchdog::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (calls_.empty()) {
            changed_.wait(lock);
            continue;
        }
        // Every call has the same limit, so the oldest one is due first.
        auto first = calls_.begin();
        // A copy: the entry may end while this waits.
        const auto deadline = first->second.deadline;
        if (std::chrono::steady_clock::now() < deadline) {
            changed_.wait_until(lock, deadline);
            continue;
        }
        // Under the lock: the call's context cannot end meanwhile.
        first->second.expired->store(true);
        first->second.context->TryCancel();
        calls_.erase(first);
    }
}

}  // namespace qv::server
