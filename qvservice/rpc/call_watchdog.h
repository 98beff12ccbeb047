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
    bool Expired() const { return m_expired->load(); }

   private:
    friend class CallWatchdog;
    Watch(CallWatchdog& dog, std::uint64_t id, std::shared_ptr<std::atomic<bool>> expired)
        : m_dog(dog), m_id(id), m_expired(std::move(expired)) {}
    CallWatchdog& m_dog;
    std::uint64_t m_id;
    std::shared_ptr<std::atomic<bool>> m_expired;
  };

  std::unique_ptr<Watch> Start(grpc::ServerContext& context);
  std::chrono::milliseconds Limit() const { return m_limit; }

 private:
  struct Entry {
    std::chrono::steady_clock::time_point deadline;
    grpc::ServerContext* context;
    std::shared_ptr<std::atomic<bool>> expired;
  };
  void Run();

  const std::chrono::milliseconds m_limit;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<std::uint64_t, Entry> m_calls;  // ids grow with time, so the first ends first
  std::uint64_t m_nextId = 0;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace qv::server
