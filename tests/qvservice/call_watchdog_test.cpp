// The call watchdog under calls that start and end from many threads while
// it waits for the oldest one's deadline.
#include "qvservice/rpc/call_watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(CallWatchdog, CallsEndingWhileItWaitsLeaveItSound) {
  constexpr int kThreads = 8;
  constexpr int kCallsPerThread = 2000;
  qv::server::CallWatchdog watchdog(std::chrono::hours(1));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      grpc::ServerContext context;
      for (int i = 0; i < kCallsPerThread; ++i) {
        const auto watch = watchdog.Start(context);
        EXPECT_FALSE(watch->Expired());
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace
