// The wait between attempts while the service is away: exponential with full
// jitter, so that many recorders coming back at once spread out.
#pragma once

#include <chrono>
#include <random>

namespace qv::recorder {

class Backoff {
public:
    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap);
    // A random wait up to first * 2^failures, at most cap.
    std::chrono::milliseconds Next();
    void Reset() { failures_ = 0; }

private:
    std::chrono::milliseconds first_;
    std::chrono::milliseconds cap_;
    int failures_ = 0;
    std::mt19937_64 random_;
};

}  // namespace qv::recorder
