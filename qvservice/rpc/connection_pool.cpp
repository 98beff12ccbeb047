#include "qvservice/rpc/connection_pool.h"

#include "qvservice/model/store_schema.h"

#include <algorithm>
#include <chrono>

namespace qv::server {

ConnectionPool::ConnectionPool(std::string store, std::size_t maxConnections)
    : store_(std::move(store)), max_(std::max<std::size_t>(maxConnections, 1)) {}

ConnectionPool::Lease::~Lease() {
    if (db_) pool_->Return(std::move(db_));
}

ConnectionPool::Lease ConnectionPool::Acquire(const std::function<bool()>& giveUp) {
    std::unique_lock lock(mutex_);
    while (idle_.empty() && leased_ >= max_) {
        returned_.wait_for(lock, std::chrono::milliseconds(100));
        if (idle_.empty() && leased_ >= max_ && giveUp && giveUp()) {
            throw StoreError("all " + std::to_string(max_) + " store connections were busy until the call ended");
        }
    }
    ++leased_;
    if (!idle_.empty()) {
        auto db = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(db));
    }
    lock.unlock();
    try {
        auto db = OpenStore(store_, Database::Mode::ReadOnly);
        CheckSchema(*db);
        return Lease(*this, std::move(db));
    } catch (...) {
        Return(nullptr);
        throw;
    }
}

void ConnectionPool::Return(std::unique_ptr<Database> db) {
    std::lock_guard lock(mutex_);
    --leased_;
    if (db && db->Broken()) {
        // The others waiting here most likely lost theirs the same way (a
        // restarted database server): the next calls start afresh.
        idle_.clear();
    } else if (db) {
        idle_.push_back(std::move(db));
    }
    returned_.notify_one();
}

}  // namespace qv::server
