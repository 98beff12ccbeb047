// The animation thread's wake-up sources: auto-reset events waited on
// together, and the periodic timer.
#include "platform/auto_reset_events.h"
#include "platform/periodic_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

TEST(AutoResetEvents, LowestSetIndexWinsAndEachWaitResetsOne) {
    CAutoResetEvents events(2, true);
    EXPECT_EQ(events.WaitAny(), 0u);  // both start set; the timer event first
    EXPECT_EQ(events.WaitAny(), 1u);
    events.Set(1);
    events.Set(1);  // setting a set event does not count twice
    EXPECT_EQ(events.WaitAny(), 1u);

    std::thread setter([&] { events.Set(0); });
    EXPECT_EQ(events.WaitAny(), 0u);  // blocks until the other thread sets it
    setter.join();
}

TEST(PeriodicTimer, TicksUntilDestroyed) {
    std::mutex mutex;
    std::condition_variable ticked;
    int ticks = 0;
    {
        CPeriodicTimer timer(std::chrono::milliseconds(5), [&] {
            std::lock_guard lock(mutex);
            ++ticks;
            ticked.notify_one();
        });
        std::unique_lock lock(mutex);
        ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(10), [&] { return ticks >= 3; }));
    }
    EXPECT_GE(ticks, 3);  // read after the destructor joined the thread
}
