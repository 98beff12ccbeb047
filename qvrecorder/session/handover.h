// Hands the session's records to the computer's qvrecorder daemon: numbered
// messages under the session's own sender id, so that a message sent again
// after a broken connection is taken once, and a hello on each connection.
// While the daemon is away the records wait here, in memory and bounded.
#pragma once

#include "proto/relay.pb.h"
#include "qvrecorder/local_client.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

namespace qv::recorder {

class Handover {
public:
    Handover(std::string socketPath, quorvis::relay::v1::SessionHello hello, std::size_t maxWaiting = 100'000);

    void Add(quorvis::v1::LiveRecord record, std::optional<quorvis::v1::ProgramIcon> icon);
    // Connects unless connected, with the hello that lists the session in
    // the daemon's status; false when no daemon answers.
    bool Connect();
    bool Connected() const { return client_ != nullptr; }
    // Connects and sends what waits, each message with little patience; false
    // when the daemon did not take everything (it is away: try again later).
    bool Pump();
    // Tries until everything is taken or the deadline passes; false then.
    bool Flush(std::chrono::steady_clock::time_point deadline);

    // Records and icons not yet taken.
    std::size_t Waiting() const {
        return records_.size() + icons_.size() + static_cast<std::size_t>(inFlight_.records_size()) +
               static_cast<std::size_t>(inFlight_.icons_size());
    }
    std::uint64_t Dropped() const { return dropped_; }

private:
    bool SendOne();  // connected
    void Lost(const std::string& why);

    std::string socketPath_;
    quorvis::relay::v1::SessionHello hello_;
    std::size_t maxWaiting_;
    std::string senderId_;
    std::uint64_t nextNumber_ = 1;
    std::unique_ptr<LocalClient> client_;
    std::deque<quorvis::v1::LiveRecord> records_;
    std::deque<quorvis::v1::ProgramIcon> icons_;
    // Once numbered, a message is sent as it is until the daemon answers it.
    quorvis::relay::v1::SendRequest inFlight_;
    bool away_ = false;
    std::uint64_t dropped_ = 0;
};

}  // namespace qv::recorder
