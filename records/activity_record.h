// An activity record as the recorder sends it and the service stores it:
// one stretch of one window, and the bounds that every record must keep.
#pragma once

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

namespace qv {

struct ActivityRecord {
    std::string user;
    std::string computer;
    std::string process;
    std::string description;
    std::string windowTitle;
    std::int64_t startMs = 0;  // UTC
    std::int64_t durationMs = 0;
    std::int64_t keyboardEvents = 0;
    std::int64_t mouseEvents = 0;
};

// A record the store refuses; the text says why.
class InvalidRecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::int64_t kMaxDurationMs = 366LL * 86'400'000;
// The viewer reads a record's event counts as 32-bit integers.
inline constexpr std::int64_t kMaxEventCount = std::numeric_limits<std::int32_t>::max();
inline constexpr std::size_t kMaxTextBytes = 65535;

// Checks a record's fields; throws InvalidRecord.
void ValidateRecord(const ActivityRecord& record);

}  // namespace qv
