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
        Lease(ConnectionPool& pool, std::unique_ptr<Database> db) : pool_(&pool), db_(std::move(db)) {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = default;
        ~Lease();
        Database& operator*() const { return *db_; }
        Database* operator->() const { return db_.get(); }

    private:
        ConnectionPool* pool_;  // not owned
        std::unique_ptr<Database> db_;
    };

    // Waits while every connection is in use, until one is free or giveUp
    // says so (asked every 100 ms); throws StoreError then, and when no
    // connection can be made.
    Lease Acquire(const std::function<bool()>& giveUp = {});

private:
    void Return(std::unique_ptr<Database> db);

    std::string store_;
    std::size_t max_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Database>> idle_;  // owned
    std::size_t leased_ = 0;
};

}  // namespace qv::server
