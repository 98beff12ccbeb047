// What a call holds: a store connection (bounded, reused, and given up on when
// the call that waits for one ends), and a watch of its time limit.
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

// A service whose "past" call is watched with a short limit and waits to be
// ended; its "within" call is watched with an hour's and returns once the
// other has been ended.
class WatchedService final : public quorvis::v1::QuorvisService::Service {
 public:
  grpc::Status Query(grpc::ServerContext* context, const quorvis::v1::OperationRequest* request,
                     grpc::ServerWriter<quorvis::v1::ResultPart>*) override {
    const bool past = request->request() == "past";
    const auto watch = (past ? quick_ : slow_).Start(*context);
    // Bounds far beyond the short limit, for slow machines; nothing is timed.
    for (const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !(past ? context->IsCancelled() : pastEnded_.load()) && std::chrono::steady_clock::now() < bound;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (past) pastEnded_ = watch->Expired();  // marked before the cancel
    return watch->Expired() ? grpc::Status(grpc::StatusCode::INTERNAL, "ended early") : grpc::Status::OK;
  }
  std::atomic<bool> pastEnded_ = false;

 private:
  server::CallWatchdog quick_{std::chrono::milliseconds(50)};
  server::CallWatchdog slow_{std::chrono::hours(1)};
};

TEST(CallWatchdog, EndsACallPastItsLimitAndNotOneWithinIt) {
  WatchedService service;
  int port = 0;
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(&service);
  const auto server = builder.BuildAndStart();
  ASSERT_NE(port, 0);
  ServiceClient client(grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));
  auto within = std::async(std::launch::async, [&] { return client.Query("within").status; });
  EXPECT_EQ(client.Query("past").status.error_code(), grpc::StatusCode::CANCELLED);
  EXPECT_TRUE(within.get().ok());
  EXPECT_TRUE(service.pastEnded_);  // read after "within", which waits for it

  // Calls that start and end from many threads while the watchdog waits for
  // the oldest one's deadline.
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

}  // namespace
}  // namespace qv::test
