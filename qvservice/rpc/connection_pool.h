// Read-only store connections for the service's calls: at most a set number
// at once, kept for reuse. Read-only, so no request can change the store.
#pragma once

#include "qvservice/store/store_database.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv::server {

class ConnectionPool {
 public:
  ConnectionPool(std::string store, std::size_t maxConnections);

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

  // Waits while every connection is in use, until one is free or giveUp
  // says so (asked every 100 ms); throws StoreError then, and when no
  // connection can be made.
  Lease Acquire(const std::function<bool()>& giveUp = {});

 private:
  void Return(std::unique_ptr<Database> db);

  std::string m_store;
  std::size_t m_max;
  std::mutex m_mutex;
  std::condition_variable m_returned;
  std::vector<std::unique_ptr<Database>> m_idle;  // owned
  std::size_t m_leased = 0;
};

}  // namespace qv::server
