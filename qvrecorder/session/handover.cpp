#include "qvrecorder/session/handover.h"

#include "records/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <random>
#include <thread>

namespace qv::recorder {

namespace {

std::string RandomId() {
    std::string id(16, '\0');
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, id.data(), id.size()) != static_cast<ssize_t>(id.size())) {
        // Unique enough for one computer's sessions: what no two of its processes share at once.
        std::random_device device;
        for (char& c : id) c = static_cast<char>(device());
    }
    if (fd >= 0) ::close(fd);
    return id;
}

}  // namespace

Handover::Handover(std::string socketPath, quorvis::relay::v1::SessionHello hello, std::size_t maxWaiting)
    : socketPath_(std::move(socketPath)), hello_(std::move(hello)), maxWaiting_(maxWaiting), senderId_(RandomId()) {}

void Handover::Add(quorvis::v1::LiveRecord record, std::optional<quorvis::v1::ProgramIcon> icon) {
    if (records_.size() + static_cast<std::size_t>(inFlight_.records_size()) >= maxWaiting_) {
        if (dropped_++ == 0)
            LogLine(std::to_string(maxWaiting_) + " records wait for the qvrecorder daemon; leaving out new ones");
        if (dropped_ % 1000 == 0) LogLine(std::to_string(dropped_) + " records left out so far");
        return;
    }
    records_.push_back(std::move(record));
    if (icon) icons_.push_back(std::move(*icon));
}

void Handover::Lost(const std::string& why) {
    client_.reset();
    if (!away_) {
        away_ = true;
        LogLine("the records wait: " + why);
    }
}

bool Handover::SendOne() {
    if (inFlight_.records_size() == 0 && inFlight_.icons_size() == 0) {
        // Icons first, so that records coming all the time never keep them waiting; each icon is at most a
        // megabyte, and the message stays under the daemon's bound.
        std::size_t bytes = 0;
        while (!icons_.empty() && inFlight_.icons_size() < kMaxRelayRecords &&
               (bytes == 0 || bytes + icons_.front().ByteSizeLong() < kTargetRelayMessageBytes)) {
            bytes += icons_.front().ByteSizeLong();
            *inFlight_.add_icons() = std::move(icons_.front());
            icons_.pop_front();
        }
        while (!records_.empty() && inFlight_.records_size() < kMaxRelayRecords && bytes < kTargetRelayMessageBytes) {
            bytes += records_.front().ByteSizeLong();
            *inFlight_.add_records() = std::move(records_.front());
            records_.pop_front();
        }
        if (inFlight_.records_size() == 0 && inFlight_.icons_size() == 0) return true;
        inFlight_.set_sender_id(senderId_);
        inFlight_.set_message_number(nextNumber_++);
    }
    try {
        const auto reply = client_->SendUntilAnswered(inFlight_, std::chrono::seconds(0));
        if (!reply.refusal().empty()) {
            LogLine("the qvrecorder daemon refused a message of " + std::to_string(inFlight_.records_size()) +
                    " records and " + std::to_string(inFlight_.icons_size()) + " icons: " + reply.refusal());
            if (inFlight_.icons_size() > 0 && inFlight_.records_size() > 0) {
                // Records are worth more than icons: they go again alone, as a new message.
                inFlight_.clear_icons();
                inFlight_.set_message_number(nextNumber_++);
                return SendOne();
            }
            // Sending it again would be refused again; the session goes on with the next.
        }
    } catch (const RelayError& error) {
        Lost(error.what());
        return false;
    }
    if (away_) {
        away_ = false;
        LogLine("the qvrecorder daemon takes the records again");
    }
    inFlight_.Clear();
    return true;
}

bool Handover::Connect() {
    if (client_) return true;
    try {
        client_ = std::make_unique<LocalClient>(socketPath_, hello_);
    } catch (const RelayError& error) {
        Lost(error.what());
        return false;
    }
    return true;
}

bool Handover::Pump() {
    if (!Connect()) return false;
    while (Waiting() > 0) {
        if (!SendOne()) return false;
    }
    return true;
}

bool Handover::Flush(std::chrono::steady_clock::time_point deadline) {
    while (!Pump()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

}  // namespace qv::recorder
