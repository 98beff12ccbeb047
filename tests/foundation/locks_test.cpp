// TMutex, TCriticalSection, THandle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <future>
#include <latch>
#include <thread>

#include "foundation/critical_section.h"
#include "foundation/exceptions.h"
#include "foundation/handle.h"
#include "foundation/mutex.h"

namespace {

using namespace std::chrono_literals;

// A thread that holds the lock until Release() (or the end of the scope).
struct Holder {
    explicit Holder(ILock& lock)
        : thread([this, &lock] {
              lock.Lock();
              held.count_down();
              release.wait();
              lock.Unlock();
          }) {
        held.wait();
    }
    ~Holder() { Release(); }
    void Release() {
        if (thread.joinable()) {
            release.count_down();
            thread.join();
        }
    }
    std::latch held{1}, release{1};
    std::thread thread;
};

bool FreeForOthers(TMutex& mutex) {
    return std::async(std::launch::async,
                      [&] {
                          if (!mutex.Lock(0)) return false;
                          mutex.Unlock();
                          return true;
                      })
        .get();
}

template <class F>
std::int32_t SystemErrorOf(F call) {
    try {
        call();
    } catch (const ESystemException& e) {
        return e.GetField("Code")->GetInt();
    }
    return 0;
}

TEST(FoundationMutex, IsReentrantTimesOutAndRefusesAnUnlockWithoutOwning) {
    TMutex mutex;
    EXPECT_EQ(SystemErrorOf([&] { mutex.Unlock(); }), EPERM);
    mutex.Lock();
    EXPECT_TRUE(mutex.Lock(0));
    EXPECT_TRUE(mutex.Lock(kInfiniteTimeout));
    mutex.Unlock();
    mutex.Unlock();
    EXPECT_FALSE(FreeForOthers(mutex));
    mutex.Unlock();
    EXPECT_TRUE(FreeForOthers(mutex));

    Holder holder(mutex);
    EXPECT_EQ(SystemErrorOf([&] { mutex.Unlock(); }), EPERM);
    EXPECT_FALSE(mutex.Lock(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.Lock(50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    std::thread releaser([&] { holder.Release(); });
    EXPECT_TRUE(mutex.Lock(60000));
    mutex.Unlock();
    releaser.join();
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
    { Holder other(lock); }
    EXPECT_THAT([&] { lock.Lock(10); },
                testing::ThrowsMessage<ENotImplemented>(
                    testing::StartsWith("Text: Not implemented\nSourceFile: .\\CriticalSection\nSourceLine: 18 (0x12)\n"
                                        "Function: TCriticalSection::Lock\nStack: ")));
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
    EXPECT_EQ(SystemErrorOf([&] { failing.Close(); }), EBADF);
    EXPECT_EQ(failing.Get(), THandle::kNone);  // never closed again
}

}  // namespace
