// The service's store connections: bounded, reused, and given up on when the
// call that waits for one ends.
#include "qvservice/rpc/connection_pool.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace qv::test {
namespace {

TEST(ConnectionPool, WaitsForAFreeConnectionAndGivesUpWhenTheCallEnds) {
  TempDir dir;
  const std::string store = dir.File("store.db");
  WriteRecords(store, {});
  server::ConnectionPool pool(store, 1);

  auto first = pool.Acquire();
  server::Database* const connection = &*first;
  EXPECT_THROW(pool.Acquire([] { return true; }), server::StoreError) << "the only connection is leased";

  // A waiting call gets the connection as soon as it comes back, and it is
  // the same one, not a second.
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

}  // namespace
}  // namespace qv::test
