// The framing of the local protocol (proto/relay.proto): a 4-byte
// big-endian length, then one protobuf message. Shared by the daemon and
// its clients.
#pragma once

#include <google/protobuf/message_lite.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace qv::recorder {

inline constexpr const char* kDefaultSocket = "/run/qvrecorder/socket";

// Bounds on what either side reads: one record is at most five texts of
// kMaxTextBytes, so a message of this size holds at least a few records.
inline constexpr std::size_t kMaxRelayMessageBytes = 2 << 20;
inline constexpr int kMaxRelayRecords = 1000;
// What a client puts in one message before starting the next.
inline constexpr std::size_t kTargetRelayMessageBytes = 1 << 20;

class RelayError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// False at a clean end of the stream before any byte of a message; throws
// RelayError for a short, oversized or unreadable message or a failed read.
bool ReadMessage(int fd, google::protobuf::MessageLite& message);
// Throws RelayError when the message cannot be written whole.
void WriteMessage(int fd, const google::protobuf::MessageLite& message);

}  // namespace qv::recorder
