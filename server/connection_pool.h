// Read-only store connections for the service's calls: one per call in
// flight, kept for reuse. Read-only, so no request can change the store.
#pragma once

#include "sqlite_db.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv::server {

class ConnectionPool {
 public:
  explicit ConnectionPool(std::string path) : m_path(std::move(path)) {}

  class Lease {
   public:
    Lease(ConnectionPool& pool, std::unique_ptr<Database> db) : m_pool(&pool), m_db(std::move(db)) {}
    Lease(Lease&&) = default;
    Lease& operator=(Lease&&) = default;
    ~Lease();
    Database& operator*() const { return *m_db; }
    Database* operator->() const { return m_db.get(); }

   private:
    ConnectionPool* m_pool;  // not owned
    std::unique_ptr<Database> m_db;
  };

  Lease Acquire();

 private:
  void Return(std::unique_ptr<Database> db);

  std::string m_path;
  std::mutex m_mutex;
  std::vector<std::unique_ptr<Database>> m_idle;  // owned
};

}  // namespace qv::server
