#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <latch>
#include <thread>

#include "foundation/critical_section.h"
#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/mutex.h"
#include "foundation/smart_ptr.h"

namespace {

using namespace std::chrono_literals;

bool FreeForOthers(TMutex& mutex) {
    return std::async(std::launch::async, [&] { return mutex.Lock(0) && (mutex.Unlock(), true); }).get();
}

auto SystemError(int code) {
    return testing::ThrowsMessage<ESystemException>(testing::StartsWith("Code: " + std::to_string(code) + " "));
}

TEST(FoundationMutex, IsReentrantTimesOutAndRefusesAnUnlockWithoutOwning) {
    TMutex mutex;
    EXPECT_THAT([&] { mutex.Unlock(); }, SystemError(EPERM));
    mutex.Lock();
    EXPECT_TRUE(mutex.Lock(0));
    EXPECT_TRUE(mutex.Lock(kInfiniteTimeout));
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_FALSE(FreeForOthers(mutex));
    mutex.Unlock();
    EXPECT_TRUE(FreeForOthers(mutex));

    std::latch held(1), release(1);
    std::thread holder([&] {
        mutex.Lock();
        held.count_down();
        release.wait();
        mutex.Unlock();
    });
    held.wait();
    EXPECT_THAT([&] { mutex.Unlock(); }, SystemError(EPERM));
    EXPECT_FALSE(mutex.Lock(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.Lock(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    release.count_down();
    EXPECT_TRUE(mutex.Lock(60000));
    mutex.Unlock();
    holder.join();
}

TEST(FoundationMutex, AbandonedMutexIsAcquiredByBothLockForms) {
    TMutex waited, tried, timed;
    for (TMutex* mutex : {&waited, &tried, &timed}) {
        std::thread([mutex] {  // ends while it holds the mutex, twice
            mutex->Lock();
            mutex->Lock();
        })
            .join();
    }
    waited.Lock();
    EXPECT_TRUE(tried.Lock(0));
    EXPECT_TRUE(timed.Lock(1000));
    for (TMutex* mutex : {&waited, &tried, &timed}) {
        mutex->Unlock();  // the dead thread's count is not inherited
        EXPECT_TRUE(FreeForOthers(*mutex));
    }
}

TEST(FoundationCriticalSection, IsReentrantAndHasNoTimedLock) {
    TCriticalSection section;
    ILock& lock = section;
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    std::async(std::launch::async, [&] { lock.Lock(), lock.Unlock(); }).get();  // free for another thread
    EXPECT_THAT([&] { lock.Lock(10); },
                testing::ThrowsMessage<ENotImplemented>(testing::HasSubstr("TCriticalSection::Lock")));
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }
int OpenNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(FoundationHandle, ClosesOnceNeverNoneOrZeroAndRaisesAFailedClose) {
    const int fd = OpenNull();
    THandle handle(fd);
    THandle moved(std::move(handle));
    EXPECT_EQ(handle.Get(), THandle::kNone);
    moved.Close();
    EXPECT_FALSE(IsOpen(fd));
    const int reused = OpenNull();  // likely the same number again
    moved.Close();
    EXPECT_TRUE(IsOpen(reused));
    { THandle owner(reused); }
    EXPECT_FALSE(IsOpen(reused));

    THandle none, zero(0);
    none.Close();
    zero.Close();
    EXPECT_EQ(zero.Get(), THandle::kNone);
    { THandle zeroAtEnd(0); }
    EXPECT_TRUE(IsOpen(0));

    const int closed = OpenNull();
    ::close(closed);
    THandle failing(closed);
    EXPECT_THAT([&] { failing.Close(); }, SystemError(EBADF));
    EXPECT_EQ(failing.Get(), THandle::kNone);  // never closed again
}

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

TEST(FoundationSmartPtr, CountsCopiesConversionsDestroysAtZeroAndDescribeNamesTheObject) {
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
        char expected[64];
        std::snprintf(expected, sizeof expected, "(anonymous namespace)::Child {0x%lx}",
                      reinterpret_cast<unsigned long>(copy.Get()));
        EXPECT_EQ(copy->Describe(), expected);  // the object's own type
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(child->RefCount(), 3);
        child.Reset();
        copy.Reset();
        EXPECT_EQ(live, 1);
    }  // the last reference was to const
    EXPECT_EQ(live, 0);
    EXPECT_EQ(destroyed, 2);
}

// Two threads drop references at the same moment: `separate` gives each its own SmartPtr, otherwise both reset the
// same one (exchange, then release).
TEST(FoundationSmartPtr, LastReleaseOnTwoThreadsDestroysOnce) {
    constexpr int kRounds = 2000;
    for (const bool separate : {true, false}) {
        destroyed = 0;
        for (int round = 0; round < kRounds; ++round) {
            SmartPtr<Counted> first = MakeSmart<Counted>();
            SmartPtr<Counted> second = separate ? first : nullptr;
            std::latch start(2);
            const auto reset = [&](SmartPtr<Counted>* ptr) {
                start.arrive_and_wait();
                ptr->Reset();
            };
            std::thread a(reset, &first), b(reset, separate ? &second : &first);
            a.join(), b.join();
        }
        EXPECT_EQ(destroyed, kRounds) << separate;
        EXPECT_EQ(live, 0) << separate;
    }
}

}  // namespace
