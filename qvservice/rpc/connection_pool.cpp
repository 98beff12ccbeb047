#include "qvservice/rpc/connection_pool.h"

#include "qvservice/model/store_schema.h"

#include <algorithm>
#include <chrono>

namespace qv::server {

ConnectionPool::ConnectionPool(std::string store, std::size_t maxConnections)
    : m_store(std::move(store)), m_max(std::max<std::size_t>(maxConnections, 1)) {}

ConnectionPool::Lease::~Lease() {
  if (m_db) m_pool->Return(std::move(m_db));
}

ConnectionPool::Lease ConnectionPool::Acquire(const std::function<bool()>& giveUp) {
  std::unique_lock lock(m_mutex);
  while (m_idle.empty() && m_leased >= m_max) {
    m_returned.wait_for(lock, std::chrono::milliseconds(100));
    if (m_idle.empty() && m_leased >= m_max && giveUp && giveUp()) {
      throw StoreError("all " + std::to_string(m_max) + " store connections were busy until the call ended");
    }
  }
  ++m_leased;
  if (!m_idle.empty()) {
    auto db = std::move(m_idle.back());
    m_idle.pop_back();
    return Lease(*this, std::move(db));
  }
  lock.unlock();
  try {
    auto db = OpenStore(m_store, Database::Mode::ReadOnly);
    CheckSchema(*db);
    return Lease(*this, std::move(db));
  } catch (...) {
    Return(nullptr);
    throw;
  }
}

void ConnectionPool::Return(std::unique_ptr<Database> db) {
  std::lock_guard lock(m_mutex);
  --m_leased;
  if (db && db->Broken()) {
    // The others waiting here most likely lost theirs the same way (a
    // restarted database server): the next calls start afresh.
    m_idle.clear();
  } else if (db) {
    m_idle.push_back(std::move(db));
  }
  m_returned.notify_one();
}

}  // namespace qv::server
