// Reference counting.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <latch>
#include <thread>

#include "foundation/smart_ptr.h"

namespace {

std::atomic<int> live{0};
std::atomic<int> destroyed{0};

struct Counted : SmartPtrObj {
    Counted() { ++live; }
    Counted(const Counted& other) : SmartPtrObj(other) { ++live; }
    ~Counted() override {
        --live;
        ++destroyed;
    }
};
struct Child : Counted {};

TEST(FoundationSmartPtr, CountsCopiesConversionsAndDestroysAtZero) {
    destroyed = 0;
    {
        SmartPtr<Child> child = MakeSmart<Child>();
        SmartPtr<SmartPtrObj> base = child;
        SmartPtr<const SmartPtrObj> constBase = std::move(base);
        EXPECT_FALSE(base);
        EXPECT_EQ(child->RefCount(), 2);
        SmartPtr<Counted> copy(new Counted(*child));  // a copied object starts at 0
        EXPECT_EQ(copy->RefCount(), 1);
        copy = child;
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(child->RefCount(), 3);
        child.Reset();
        copy.Reset();
        EXPECT_EQ(live, 1);
    }  // the last reference was to const
    EXPECT_EQ(live, 0);
    EXPECT_EQ(destroyed, 2);
}

// Two threads drop references at the same moment: `separate` gives each its
// own SmartPtr, otherwise both reset the same one (exchange, then release).
void ReleaseTogether(bool separate) {
    destroyed = 0;
    constexpr int kRounds = 2000;
    for (int round = 0; round < kRounds; ++round) {
        SmartPtr<Counted> first = MakeSmart<Counted>();
        SmartPtr<Counted> second = separate ? first : nullptr;
        std::latch start(2);
        std::thread a([&] {
            start.arrive_and_wait();
            first.Reset();
        });
        std::thread b([&] {
            start.arrive_and_wait();
            (separate ? second : first).Reset();
        });
        a.join();
        b.join();
    }
    EXPECT_EQ(destroyed, kRounds);
    EXPECT_EQ(live, 0);
}

TEST(FoundationSmartPtr, LastReleaseOnTwoThreadsDestroysOnceAndDescribeNamesTheObject) {
    ReleaseTogether(true);
    ReleaseTogether(false);
    SmartPtr<Counted> object = MakeSmart<Child>();
    char expected[64];
    std::snprintf(expected, sizeof expected, "(anonymous namespace)::Child {0x%lx}",
                  reinterpret_cast<unsigned long>(object.Get()));
    EXPECT_EQ(object->Describe(), expected);
}

}  // namespace
