#pragma once
// ILock: the lock interface of TMutex and TCriticalSection.
// Locks are never deleted through ILock, so it has no virtual destructor;
// the destructor is protected to make that a compile-time rule.
#include <cstdint>

// A timeout that never ends (the original's INFINITE).
inline constexpr std::uint32_t kInfiniteTimeout = 0xFFFFFFFF;

class ILock {
public:
    // Waits at most timeoutMs milliseconds; true if the lock was taken.
    virtual bool Lock(std::uint32_t timeoutMs) = 0;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;

protected:
    ILock() = default;
    ILock(const ILock&) = default;
    ILock& operator=(const ILock&) = default;
    ~ILock() = default;
};

// Holds an ILock for the length of a scope. Unlock of a lock this thread
// holds does not fail; if it did, the destructor would end the program.
class TLockGuard {
public:
    explicit TLockGuard(ILock& lock) : lock_(lock) { lock_.Lock(); }
    ~TLockGuard() { lock_.Unlock(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    ILock& lock_;  // not owned
};
