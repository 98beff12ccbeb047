#include "qvrecorder/backoff.h"

#include <algorithm>

namespace qv::recorder {

Backoff::Backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap)
    : first_(first), cap_(cap), random_(std::random_device{}()) {}

std::chrono::milliseconds Backoff::Next() {
    const auto ceiling = std::min(cap_.count(), first_.count() << std::min(failures_, 30));
    if (failures_ < 30) ++failures_;
    std::uniform_int_distribution<std::chrono::milliseconds::rep> pick(1, std::max<std::int64_t>(1, ceiling));
    return std::chrono::milliseconds(pick(random_));
}

}  // namespace qv::recorder
