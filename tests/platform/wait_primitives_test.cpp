// The animation thread's wake-up sources, waited on together (its periodic timer is ticked by WorkspaceBarTest).
#include "platform/auto_reset_events.h"

#include <gtest/gtest.h>

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
