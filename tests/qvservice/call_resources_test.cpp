// What a call holds: a store connection (bounded, reused, given up with the call), and a watch of its time limit.
#include "qvservice/rpc/call_watchdog.h"
#include "qvservice/rpc/connection_pool.h"
#include "tests/support/test_support.h"

#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace qv::test {

TEST(ConnectionPool, WaitsForAFreeConnectionAndGivesUpWhenTheCallEnds) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    WriteRecords(store, {});
    server::ConnectionPool pool(store, 1);

    auto first = pool.Acquire();
    server::Database* const connection = &*first;
    EXPECT_THROW(pool.Acquire([] { return true; }), server::StoreError) << "the only connection is leased";

    // A waiting call gets the connection as soon as it comes back, and it is the same one, not a second.
    std::atomic<bool> waiting = false;
    auto second = std::async(std::launch::async, [&] {
        return &*pool.Acquire([&] {
            waiting = true;
            return false;
        });
    });
    while (!waiting) std::this_thread::yield();
    { auto returned = std::move(first); }
    EXPECT_EQ(second.get(), connection);

    // A store that cannot be opened fails the call and frees its place.
    server::ConnectionPool missing(dir.File("missing.db"), 1);
    EXPECT_THROW(missing.Acquire(), server::StoreError);
    EXPECT_THROW(missing.Acquire(), server::StoreError) << "the failed open must not keep the only place";
}

// The limits themselves are CallLimits'; this is the watchdog's bookkeeping under calls from many threads at once.
TEST(CallWatchdog, CallsStartAndEndFromManyThreadsWhileItWaits) {
    server::CallWatchdog watchdog(std::chrono::hours(1));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            grpc::ServerContext context;
            for (int i = 0; i < 2000; ++i) watchdog.Start(context);
        });
    }
    for (auto& thread : threads) thread.join();
}

}  // namespace qv::test
