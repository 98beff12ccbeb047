// The session's hand-over against a scripted stand-in for the daemon: a
// hello on every connection, a message sent again under its number after a
// broken connection, and records saved from a refusal their icons caused.
#include "qvrecorder/local_client.h"
#include "qvrecorder/session/handover.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

namespace qv::recorder {
namespace {

using quorvis::relay::v1::RelayReply;
using quorvis::relay::v1::RelayRequest;

// Serves one connection after another; answer() decides each reply (nullopt: hang up unanswered).
class ScriptedRelay {
public:
    using Answer = std::function<std::optional<RelayReply>(const RelayRequest&)>;
    ScriptedRelay(const std::string& path, Answer answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = UnixAddress(path);
        ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        thread_ = std::thread([this] {
            for (int fd; (fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                log_ += "connect ";
                try {
                    for (RelayRequest request; ReadMessage(fd, request);) {
                        log_ += request.has_session() ? "hello(" + request.session().adapter() + ") "
                                                      : "#" + std::to_string(request.send().message_number()) + ":" +
                                                            std::to_string(request.send().records_size()) + "r" +
                                                            std::to_string(request.send().icons_size()) + "i ";
                        const auto reply = answer_(request);
                        if (!reply) break;
                        WriteMessage(fd, *reply);
                    }
                } catch (const RelayError&) {}
                ::close(fd);
            }
        });
    }
    ~ScriptedRelay() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    std::string log_;

private:
    Answer answer_;
    int listener_ = -1;
    std::thread thread_;
};

quorvis::v1::LiveRecord Record(const std::string& process) {
    quorvis::v1::LiveRecord record;
    record.set_process(process);
    record.set_duration_ms(1000);
    return record;
}

quorvis::v1::ProgramIcon Icon(const std::string& process) {
    quorvis::v1::ProgramIcon icon;
    icon.set_process(process);
    icon.set_icon("not an icon");
    return icon;
}

TEST(SessionHandover, SaysHelloOnEachConnectionResendsUnderItsNumberAndSavesRecordsFromABadIcon) {
    const TempDir dir;
    int sends = 0;
    ScriptedRelay relay(dir.File("socket"), [&](const RelayRequest& request) -> std::optional<RelayReply> {
        RelayReply reply;
        reply.mutable_send();
        if (request.has_session()) return reply;
        // The first message is lost with its connection; an icon is refused with the records beside it.
        if (++sends == 1) return std::nullopt;
        if (request.send().icons_size() > 0) reply.mutable_send()->set_refusal("a bad icon");
        return reply;
    });
    quorvis::relay::v1::SessionHello hello;
    hello.set_adapter("X11");
    Handover handover(dir.File("socket"), hello, 3);

    handover.Add(Record("a"), std::nullopt);
    EXPECT_FALSE(handover.Pump());  // hung up: the message waits, numbered
    EXPECT_EQ(handover.Waiting(), 1u);
    handover.Add(Record("b"), Icon("b"));
    EXPECT_TRUE(handover.Pump());
    handover.Add(Record("c"), Icon("c"));
    for (const char* process : {"d", "e", "f"}) handover.Add(Record(process), std::nullopt);
    EXPECT_EQ(handover.Dropped(), 1u);  // past the bound of 3 waiting, the newest is left out
    EXPECT_TRUE(handover.Flush(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
    EXPECT_EQ(relay.log_,
              "connect hello(X11) #1:1r0i "                  // no answer
              "connect hello(X11) #1:1r0i #2:1r1i #3:1r0i "  // #1 again; b's records alone after the refusal
              "#4:3r1i #5:3r0i ");
}

}  // namespace
}  // namespace qv::recorder
