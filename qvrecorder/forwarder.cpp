#include "qvrecorder/forwarder.h"

#include "qvrecorder/daemon_memory.h"
#include "qvrecorder/live_records.h"
#include "records/log.h"

#include <set>

namespace qv::recorder {

namespace {

std::string Describe(const grpc::Status& status) {
    static const char* const kNames[] = {
        "OK",        "CANCELLED",      "UNKNOWN",           "INVALID_ARGUMENT",   "DEADLINE_EXCEEDED",
        "NOT_FOUND", "ALREADY_EXISTS", "PERMISSION_DENIED", "RESOURCE_EXHAUSTED", "FAILED_PRECONDITION",
        "ABORTED",   "OUT_OF_RANGE",   "UNIMPLEMENTED",     "INTERNAL",           "UNAVAILABLE",
        "DATA_LOSS", "UNAUTHENTICATED"};
    const auto code = static_cast<std::size_t>(status.error_code());
    const std::string name = code < std::size(kNames) ? kNames[code] : "status " + std::to_string(code);
    return name + ": " + Printable(status.error_message(), 300);
}

std::vector<std::string> Processes(const std::vector<ProgramIcon>& icons) {
    std::vector<std::string> processes;
    for (const ProgramIcon& icon : icons) processes.push_back(icon.process);
    return processes;
}

std::string Names(const std::vector<ProgramIcon>& icons) {
    std::string names;
    for (const ProgramIcon& icon : icons) names += (names.empty() ? "" : ", ") + Printable(icon.process);
    return names;
}

}  // namespace

Forwarder::Forwarder(Spool& spool, ServiceLink& link, std::string server, ForwarderLimits limits)
    : spool_(spool),
      link_(link),
      server_(std::move(server)),
      limits_(limits),
      backoff_(limits.firstRetry, limits.maxRetry),
      thread_([this] { Run(); }) {}

Forwarder::~Forwarder() { Stop(); }

void Forwarder::Wake() {
    const std::lock_guard lock(mutex_);
    pending_ = true;
    wake_.notify_one();
}

void Forwarder::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    link_.Cancel();
    if (thread_.joinable()) thread_.join();
}

void Forwarder::Run() {
    link_.Ready();
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_) return;
            pending_ = false;
        }
        // Until the spool is empty; a Wake() meanwhile leaves pending_ set for one more look.
        for (;;) {
            Outcome outcome = Outcome::Failed;
            try {
                outcome = SendOldest();
            } catch (const std::exception& error) {
                // The spool failed (disk full, I/O error): the records stay where they are.
                LogLine(std::string("spool error: ") + error.what());
                Note(error.what());
            }
            std::unique_lock lock(mutex_);
            if (stopping_) return;
            if (outcome == Outcome::Empty) break;
            if (outcome == Outcome::Sent) continue;
            // Only stopping ends the wait: a new record must not hurry a service that is away.
            if (wake_.wait_for(lock, backoff_.Next(), [this] { return stopping_; })) return;
        }
    }
}

Forwarder::Outcome Forwarder::SendOldest() {
    const SpooledBatch oldest = spool_.Oldest(limits_.batchRecords, limits_.batchBytes);
    if (oldest.records.empty()) return SendAskedIcons();
    quorvis::v1::RecordBatch batch;
    batch.set_recorder_id(spool_.RecorderId());
    batch.set_first_sequence(oldest.firstSequence);
    std::set<std::string> named;
    for (const ActivityRecord& record : oldest.records) {
        ToLive(record, *batch.add_records());
        named.insert(record.process);
    }
    std::vector<ProgramIcon> icons = spool_.IconsToSend({named.begin(), named.end()}, limits_.batchIconBytes);
    for (ProgramIcon& icon : icons) {
        auto& wire = *batch.add_icons();
        wire.set_process(icon.process);
        wire.set_icon(std::move(icon.icon));
    }
    quorvis::v1::RecordReply reply;
    grpc::Status status = link_.Record(batch, reply, limits_.callDeadline);
    const std::uint64_t count = oldest.records.size();
    if (status.error_code() == grpc::StatusCode::INVALID_ARGUMENT && !icons.empty()) {
        // The icons were checked as the service checks them, but the records come first.
        LogLine("the service refused a batch with icons (" + Printable(status.error_message(), 300) +
                "); sending it again without them");
        batch.clear_icons();
        reply.Clear();
        status = link_.Record(batch, reply, limits_.callDeadline);
        if (status.ok()) {
            LogLine("the service refused the icons of " + Names(icons) + "; they are dropped");
            spool_.DropIcons(Processes(icons));
        }
        icons.clear();
    }
    if (status.ok()) {
        spool_.Remove(oldest.firstSequence, count, Processes(icons),
                      {reply.programs_without_icon().begin(), reply.programs_without_icon().end()});
    } else if (status.error_code() == grpc::StatusCode::INVALID_ARGUMENT) {
        const std::string reason = Printable(status.error_message(), 1000);
        spool_.SetAside(oldest.firstSequence, count, reason);
        const std::string line = "the service refused the records " + std::to_string(oldest.firstSequence) + " to " +
                                 std::to_string(oldest.firstSequence + count - 1) +
                                 " as bad; set them aside: " + reason;
        LogLine(line);
        Note(line);
    } else {
        Lost(Describe(status));
        return Outcome::Failed;
    }
    return Delivered();
}

// Icons the service asked for whose programs no waiting record names: a batch of icons alone.
Forwarder::Outcome Forwarder::SendAskedIcons() {
    const std::vector<ProgramIcon> icons = spool_.IconsToSend({}, limits_.batchIconBytes);
    if (icons.empty()) return Outcome::Empty;
    quorvis::v1::RecordBatch batch;
    batch.set_recorder_id(spool_.RecorderId());
    for (const ProgramIcon& icon : icons) {
        auto& wire = *batch.add_icons();
        wire.set_process(icon.process);
        wire.set_icon(icon.icon);
    }
    quorvis::v1::RecordReply reply;
    const grpc::Status status = link_.Record(batch, reply, limits_.callDeadline);
    if (status.ok()) {
        spool_.Remove(0, 0, Processes(icons));
    } else if (status.error_code() == grpc::StatusCode::INVALID_ARGUMENT) {
        LogLine("the service refused the icons of " + Names(icons) + " (" + Printable(status.error_message(), 300) +
                "); they are dropped");
        spool_.DropIcons(Processes(icons));
    } else {
        Lost(Describe(status));
        return Outcome::Failed;
    }
    return Delivered();
}

Forwarder::Outcome Forwarder::Delivered() {
    backoff_.Reset();
    if (state_.exchange(State::Connected) != State::Connected) {
        LogLine("the service at " + server_ + " takes records");
        // What connecting (the TLS handshake) touched.
        DropFilePages();
    }
    return Outcome::Sent;
}

void Forwarder::Lost(const std::string& error) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;  // the cancelled call of a stop says nothing about the service
    }
    if (state_.exchange(State::Lost) != State::Lost) {
        LogLine("the service at " + server_ + " takes no records (" + error + "); they wait in the spool");
    }
    Note(error);
}

void Forwarder::Note(const std::string& error) {
    // Once per new text: a retry every second must not sync the spool every second.
    if (error == lastNoted_) return;
    lastNoted_ = error;
    try {
        spool_.SetLastError(error);
    } catch (const std::exception& failed) {
        LogLine(std::string("cannot note the last error in the spool: ") + failed.what());
    }
}

}  // namespace qv::recorder
