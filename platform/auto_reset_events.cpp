#include "platform/auto_reset_events.h"

#include <algorithm>
#include <iterator>

CAutoResetEvents::CAutoResetEvents(std::size_t count, bool initiallySet) : set_(count, initiallySet) {}

void CAutoResetEvents::Set(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        set_.at(index) = true;
    }
    changed_.notify_one();
}

std::size_t CAutoResetEvents::WaitAny() {
    std::unique_lock lock(mutex_);
    auto first = set_.end();
    changed_.wait(lock, [&] {
        first = std::find(set_.begin(), set_.end(), true);
        return first != set_.end();
    });
    *first = false;
    return static_cast<std::size_t>(std::distance(set_.begin(), first));
}
