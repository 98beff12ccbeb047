#include "qvrecorder/daemon.h"

#include "qvrecorder/live_records.h"
#include "records/log.h"

#include <chrono>

namespace qv::recorder {

using quorvis::relay::v1::RelayReply;
using quorvis::relay::v1::RelayRequest;
using quorvis::relay::v1::SendReply;

namespace {

ForwarderLimits Limits(const DaemonOptions& options) {
    ForwarderLimits limits;
    limits.maxRetry = options.retryMax;
    return limits;
}

std::string Who(const Sender& sender) {
    return (sender.login.empty() ? std::string("uid ") : Printable(sender.login) + " (uid ") +
           std::to_string(sender.uid) + (sender.login.empty() ? "" : ")");
}

}  // namespace

Daemon::Daemon(const DaemonOptions& options)
    : options_(options),
      identity_(LoadTlsIdentity(options.tlsCa, options.tlsCert, options.tlsKey)),
      rules_{identity_.computer, options.userPrefix},
      spool_(options.spool, options.spoolMaxBytes),
      link_(options.server, identity_, options.retryMax),
      forwarder_(spool_, link_, options.server, Limits(options)),
      server_(std::make_unique<LocalServer>(options.socket, [this](const RelayRequest& request, const Sender& sender) {
          return Handle(request, sender);
      })) {}

Daemon::~Daemon() {
    server_.reset();
    forwarder_.Stop();
}

RelayReply Daemon::Handle(const RelayRequest& request, const Sender& sender) {
    RelayReply reply;
    if (request.has_send()) {
        *reply.mutable_send() = Take(request.send(), sender);
        return reply;
    }
    const SpoolCounts counts = spool_.Counts();
    auto& status = *reply.mutable_status();
    status.set_computer(identity_.computer);
    status.set_server(options_.server);
    // Before the first batch, whether the channel is up says most.
    const std::optional<bool> connected = forwarder_.Connected();
    status.set_connected(connected ? *connected : link_.Ready());
    status.set_waiting(counts.waiting);
    status.set_oldest_spooled_ms(counts.oldestSpooledMs);
    status.set_now_ms(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    status.set_set_aside_batches(counts.setAsideBatches);
    status.set_set_aside_records(counts.setAsideRecords);
    status.set_last_error(counts.lastError);
    status.set_last_error_ms(counts.lastErrorMs);
    status.set_spool_bytes(counts.bytes);
    status.set_spool_max_bytes(options_.spoolMaxBytes);
    return reply;
}

namespace {
constexpr std::size_t kMaxSenderIdBytes = 64;
}  // namespace

SendReply Daemon::Take(const quorvis::relay::v1::SendRequest& request, const Sender& sender) {
    SendReply reply;
    std::vector<ActivityRecord> records;
    records.reserve(static_cast<std::size_t>(request.records_size()));
    for (const auto& live : request.records()) records.push_back(FromLive(live));
    const auto refuse = [&](const std::string& reason, int index) {
        reply.set_refusal(reason);
        reply.set_refused_index(index);
        LogLine("refused " + std::to_string(records.size()) + " records of " + Who(sender) +
                (index >= 0 ? ": record " + std::to_string(index + 1) + " of the message: " : ": ") + reason);
        return reply;
    };
    if (const auto refusal = Admit(records, sender, rules_)) return refuse(refusal->reason, refusal->index);
    if (request.sender_id().size() > kMaxSenderIdBytes) return refuse("the sender's id is too long", -1);
    if (request.check_only() || records.empty()) return reply;
    try {
        if (request.sender_id().empty()) {
            spool_.Add(records);
        } else if (!spool_.AddOnce(records, request.sender_id(), request.message_number())) {
            LogLine("a message of " + Who(sender) + " came again; it was taken before");
        }
    } catch (const std::exception& error) {
        return refuse(error.what(), -1);
    }
    reply.set_taken(static_cast<std::uint32_t>(records.size()));
    forwarder_.Wake();
    return reply;
}

}  // namespace qv::recorder
