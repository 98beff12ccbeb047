#include "connection_pool.h"

#include "store_schema.h"

namespace qv::server {

ConnectionPool::Lease::~Lease() {
  if (m_db) m_pool->Return(std::move(m_db));
}

ConnectionPool::Lease ConnectionPool::Acquire() {
  {
    std::lock_guard lock(m_mutex);
    if (!m_idle.empty()) {
      auto db = std::move(m_idle.back());
      m_idle.pop_back();
      return Lease(*this, std::move(db));
    }
  }
  auto db = std::make_unique<Database>(m_path, Database::Mode::ReadOnly);
  CheckSchema(*db);
  return Lease(*this, std::move(db));
}

void ConnectionPool::Return(std::unique_ptr<Database> db) {
  std::lock_guard lock(m_mutex);
  m_idle.push_back(std::move(db));
}

}  // namespace qv::server
