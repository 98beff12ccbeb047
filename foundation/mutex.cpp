#include "foundation/mutex.h"

#include <cerrno>
#include <ctime>

#include "foundation/exceptions.h"

namespace {

// The result of a lock call as "taken" or "not taken". An abandoned owner
// leaves the mutex inconsistent; marking it consistent makes it usable again.
bool Taken(pthread_mutex_t& mutex, int rc) {
    switch (rc) {
        case 0: return true;
        case EOWNERDEAD:
            if (int c = pthread_mutex_consistent(&mutex); c != 0) {
                ThrowSystemError(c);
            }
            return true;
        case EBUSY:
        case ETIMEDOUT: return false;
        default: ThrowSystemError(rc);
    }
}

}  // namespace

TMutex::TMutex() {
    pthread_mutexattr_t attr;
    if (int rc = pthread_mutexattr_init(&attr); rc != 0) {
        ThrowSystemError(rc);
    }
    int rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) {
        rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    }
    if (rc == 0) {
        rc = pthread_mutex_init(&mutex_, &attr);
    }
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        ThrowSystemError(rc);
    }
}

TMutex::~TMutex() { pthread_mutex_destroy(&mutex_); }

bool TMutex::Lock(std::uint32_t timeoutMs) {
    if (timeoutMs == kInfiniteTimeout) {
        Lock();
        return true;
    }
    if (timeoutMs == 0) {
        return Taken(mutex_, pthread_mutex_trylock(&mutex_));
    }
    // A monotonic deadline, so that setting the wall clock does not stretch
    // or cut the wait.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return Taken(mutex_, pthread_mutex_clocklock(&mutex_, CLOCK_MONOTONIC, &deadline));
}

void TMutex::Lock() {
    // pthread_mutex_lock is not ended by signals, so unlike the alertable
    // wait of the original there is nothing to repeat.
    Taken(mutex_, pthread_mutex_lock(&mutex_));
}

void TMutex::Unlock() {
    if (int rc = pthread_mutex_unlock(&mutex_); rc != 0) {
        ThrowSystemError(rc);
    }
}
