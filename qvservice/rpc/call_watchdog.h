// Ends calls that run longer than the service allows: a caller that stops
// reading would otherwise hold a worker thread and a read snapshot for as
// long as its connection lives.
#pragma once

#include <grpcpp/server_context.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qv::server {

class CallWatchdog {
public:
    explicit CallWatchdog(std::chrono::milliseconds limit);
    ~CallWatchdog();
    CallWatchdog(const CallWatchdog&) = delete;
    CallWatchdog& operator=(const CallWatchdog&) = delete;

    // One call under watch, from its start until this object ends; the call's
    // context must outlive it.
    class Watch {
    public:
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        // True once the limit passed and the call was cancelled.
        bool Expired() const { return expired_->load(); }

    private:
        friend class CallWatchdog;
        Watch(CallWatchdog& dog, std::uint64_t id, std::shared_ptr<std::atomic<bool>> expired)
            : dog_(dog), id_(id), expired_(std::move(expired)) {}
        CallWatchdog& dog_;
        std::uint64_t id_;
        std::shared_ptr<std::atomic<bool>> expired_;
    };

    std::unique_ptr<Watch> Start(grpc::ServerContext& context);
    std::chrono::milliseconds Limit() const { return limit_; }

private:
    struct Entry {
        std::chrono::steady_clock::time_point deadline;
        grpc::ServerContext* context;
        std::shared_ptr<std::atomic<bool>> expired;
    };
    void Run();

    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, Entry> calls_;  // ids grow with time, so the first ends first
    std::uint64_t nextId_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qv::server
