#include "qvrecorder/daemon.h"

#include "qvrecorder/live_records.h"
#include "qvrecorder/relay_protocol.h"
#include "records/icon_file.h"
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
      server_(std::make_unique<LocalServer>(
          options.socket, [this](RelayRequest& request, const Sender& sender) { return Handle(request, sender); },
          [this](const Sender& sender) { Closed(sender); })) {}

Daemon::~Daemon() {
    server_.reset();
    forwarder_.Stop();
}

RelayReply Daemon::Handle(RelayRequest& request, const Sender& sender) {
    RelayReply reply;
    if (request.has_send()) {
        *reply.mutable_send() = Take(*request.mutable_send(), sender);
        return reply;
    }
    if (request.has_session()) {
        Hello(request.session(), sender);
        reply.mutable_send();
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
    const std::lock_guard lock(sessionsMutex_);
    for (const auto& [connection, session] : sessions_) *status.add_sessions() = session;
    return reply;
}

void Daemon::Hello(const quorvis::relay::v1::SessionHello& hello, const Sender& sender) {
    quorvis::relay::v1::SessionInfo session;
    session.set_user(sender.login.empty() ? "uid " + std::to_string(sender.uid) : sender.login);
    session.set_pid(sender.pid);
    // Shown to whoever asks for the status: made printable here, once.
    session.set_adapter(hello.adapter().empty() ? "an unnamed desktop" : Printable(hello.adapter(), 100));
    session.set_counts_input(hello.counts_input());
    session.set_since_ms(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    const std::lock_guard lock(sessionsMutex_);
    const bool again = sessions_.contains(sender.connection);
    sessions_[sender.connection] = session;
    if (!again)
        LogLine("a session of " + Who(sender) + " (pid " + std::to_string(sender.pid) + ", " + session.adapter() +
                ") began");
}

void Daemon::Closed(const Sender& sender) {
    const std::lock_guard lock(sessionsMutex_);
    if (sessions_.erase(sender.connection) != 0) {
        LogLine("the session of " + Who(sender) + " (pid " + std::to_string(sender.pid) + ") ended");
    }
}

namespace {

constexpr std::size_t kMaxSenderIdBytes = 64;

// Checks the icons as the service will, with its words.
std::optional<std::string> IconsProblem(quorvis::relay::v1::SendRequest& request, std::vector<ProgramIcon>& icons) {
    if (request.icons_size() > kMaxRelayRecords) {
        return "more than " + std::to_string(kMaxRelayRecords) + " icons in one message";
    }
    for (auto& icon : *request.mutable_icons()) {
        if (icon.process().empty() || icon.process().size() > kMaxTextBytes) {
            return "an icon names no program, or one longer than " + std::to_string(kMaxTextBytes) + " bytes";
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(icon.icon().data());
        if (const auto problem = IconFileProblem({bytes, icon.icon().size()})) {
            return "the icon of " + Printable(icon.process()) + ": " + *problem;
        }
        icons.push_back({icon.process(), std::move(*icon.mutable_icon())});
    }
    return std::nullopt;
}

}  // namespace

SendReply Daemon::Take(quorvis::relay::v1::SendRequest& request, const Sender& sender) {
    SendReply reply;
    std::vector<ActivityRecord> records;
    records.reserve(static_cast<std::size_t>(request.records_size()));
    // Moved, not copied: a message may hold a megabyte of texts.
    for (auto& live : *request.mutable_records()) records.push_back(FromLive(std::move(live)));
    const auto refuse = [&](const std::string& reason, int index) {
        reply.set_refusal(reason);
        reply.set_refused_index(index);
        LogLine("refused " + std::to_string(records.size()) + " records of " + Who(sender) +
                (index >= 0 ? ": record " + std::to_string(index + 1) + " of the message: " : ": ") + reason);
        return reply;
    };
    if (const auto refusal = Admit(records, sender, rules_)) return refuse(refusal->reason, refusal->index);
    if (request.sender_id().size() > kMaxSenderIdBytes) return refuse("the sender's id is too long", -1);
    std::vector<ProgramIcon> icons;
    if (const auto problem = IconsProblem(request, icons)) return refuse(*problem, -1);
    if (request.check_only() || (records.empty() && icons.empty())) return reply;
    try {
        if (request.sender_id().empty()) {
            spool_.Add(records, icons);
        } else if (!spool_.AddOnce(records, request.sender_id(), request.message_number(), icons)) {
            LogLine("a message of " + Who(sender) + " came again; it was taken before");
        }
    } catch (const std::exception& error) {
        return refuse(error.what(), -1);
    }
    reply.set_taken(static_cast<std::uint32_t>(records.size()));
    // Icons alone wake nobody: they go with the records that name them.
    if (!records.empty()) forwarder_.Wake();
    return reply;
}

}  // namespace qv::recorder
