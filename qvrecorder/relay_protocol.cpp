#include "qvrecorder/relay_protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace qv::recorder {

namespace {

// Bytes read before the end of the stream; throws on a read error.
std::size_t ReadFully(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            throw RelayError(errno == EAGAIN || errno == EWOULDBLOCK
                                 ? std::string("the other side stopped mid-message")
                                 : std::string("cannot read: ") + std::strerror(errno));
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

bool ReadMessage(int fd, google::protobuf::MessageLite& message) {
    unsigned char header[4];
    const std::size_t got = ReadFully(fd, reinterpret_cast<char*>(header), sizeof header);
    if (got == 0) return false;
    if (got < sizeof header) throw RelayError("the connection ended mid-message");
    const std::uint32_t size = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                               (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
    if (size > kMaxRelayMessageBytes) {
        throw RelayError("a message of " + std::to_string(size) + " bytes is over the limit of " +
                         std::to_string(kMaxRelayMessageBytes));
    }
    std::string body(size, '\0');
    if (ReadFully(fd, body.data(), size) < size) throw RelayError("the connection ended mid-message");
    if (!message.ParseFromString(body)) throw RelayError("a message that is not of the relay protocol");
    return true;
}

void WriteMessage(int fd, const google::protobuf::MessageLite& message) {
    const std::size_t size = message.ByteSizeLong();
    if (size > kMaxRelayMessageBytes) throw RelayError("a message of " + std::to_string(size) + " bytes is too large");
    std::string frame(4, '\0');
    frame[0] = static_cast<char>(size >> 24);
    frame[1] = static_cast<char>(size >> 16);
    frame[2] = static_cast<char>(size >> 8);
    frame[3] = static_cast<char>(size);
    message.AppendToString(&frame);
    std::size_t done = 0;
    while (done < frame.size()) {
        // MSG_NOSIGNAL: a reader that went away is an error here, not the end of the program.
        const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw RelayError(std::string("cannot write: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace qv::recorder
