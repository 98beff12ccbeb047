#pragma once
// TCriticalSection: a process-local re-entrant lock that is never waited on
// with a time-out. std::recursive_mutex stands in for the
// critical-section record. The timed Lock is not supported.
#include <mutex>

#include "foundation/lock.h"

class TCriticalSection final : public ILock {
public:
    TCriticalSection() = default;
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    // Always raises ENotImplemented (Text "Not implemented", SourceFile
    // ".\CriticalSection", SourceLine 18, Function "TCriticalSection::Lock").
    bool Lock(std::uint32_t timeoutMs) override;
    void Lock() override { mutex_.lock(); }
    void Unlock() override { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};
