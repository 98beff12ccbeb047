#pragma once
// A small set of auto-reset events that one thread can wait on together, as
// the animation thread waits for either its timer or a redraw.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

class CAutoResetEvents {
public:
    CAutoResetEvents(std::size_t count, bool initiallySet);

    void Set(std::size_t index);
    // Blocks until an event is set, resets it and returns its index; when
    // several are set the lowest index wins.
    std::size_t WaitAny();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> set_;
};
