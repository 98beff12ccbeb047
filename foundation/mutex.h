#pragma once
// TMutex: the lock for state that several threads share and that must
// survive a thread ending while it holds it. A robust, recursive
// pthread mutex stands in for the unnamed kernel mutex: the owner may take it
// again and releases it as often; EOWNERDEAD (the owner ended without
// releasing) counts as acquired, as the abandoned kernel mutex did. The
// original derived from THandle for its kernel handle; a pthread mutex has
// no handle, it is destroyed with the object.
// Every failing call raises ESystemException with the pthread error code.
#include <pthread.h>

#include "foundation/lock.h"

class TMutex final : public ILock {
public:
    TMutex();
    ~TMutex();
    TMutex(const TMutex&) = delete;
    TMutex& operator=(const TMutex&) = delete;

    // 0 tries once and answers at once; kInfiniteTimeout waits like Lock().
    bool Lock(std::uint32_t timeoutMs) override;
    void Lock() override;
    void Unlock() override;

private:
    pthread_mutex_t mutex_;
};
