#include "qvservice/rpc/call_watchdog.h"

namespace qv::server {

CallWatchdog::CallWatchdog(std::chrono::milliseconds limit) : m_limit(limit), m_thread([this] { Run(); }) {}

CallWatchdog::~CallWatchdog() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

std::unique_ptr<CallWatchdog::Watch> CallWatchdog::Start(grpc::ServerContext& context) {
  auto expired = std::make_shared<std::atomic<bool>>(false);
  std::uint64_t id = 0;
  {
    std::lock_guard lock(m_mutex);
    id = m_nextId++;
    m_calls.emplace(id, Entry{std::chrono::steady_clock::now() + m_limit, &context, expired});
  }
  m_changed.notify_all();
  return std::unique_ptr<Watch>(new Watch(*this, id, std::move(expired)));
}

CallWatchdog::Watch::~Watch() {
  std::lock_guard lock(m_dog.m_mutex);
  m_dog.m_calls.erase(m_id);
}

void CallWatchdog::Run() {
  std::unique_lock lock(m_mutex);
  while (!m_stopping) {
    if (m_calls.empty()) {
      m_changed.wait(lock);
      continue;
    }
    // Every call has the same limit, so the oldest one is due first.
    auto first = m_calls.begin();
    // A copy: the entry may end while this waits.
    const auto deadline = first->second.deadline;
    if (std::chrono::steady_clock::now() < deadline) {
      m_changed.wait_until(lock, deadline);
      continue;
    }
    // Under the lock: the call's context cannot end meanwhile.
    first->second.expired->store(true);
    first->second.context->TryCancel();
    m_calls.erase(first);
  }
}

}  // namespace qv::server
