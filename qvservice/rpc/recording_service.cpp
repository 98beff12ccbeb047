#include "qvservice/rpc/recording_service.h"

#include "qvservice/store/store_database.h"
#include "records/log.h"

#include <grpcpp/server_context.h>

#include <algorithm>

namespace qv::server {

namespace {

bool SameComputer(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

RecordBatch FromWire(const quorvis::v1::RecordBatch& wire) {
    RecordBatch batch;
    batch.recorderId = wire.recorder_id();
    batch.firstSequence = wire.first_sequence();
    batch.records.reserve(static_cast<std::size_t>(wire.records_size()));
    for (const auto& r : wire.records()) {
        batch.records.push_back(ActivityRecord{r.user(), r.computer(), r.process(), r.description(), r.window_title(),
                                               r.start_ms(), r.duration_ms(), r.keyboard_events(), r.mouse_events()});
    }
    for (const auto& icon : wire.icons()) {
        batch.icons.push_back(ProgramIcon{icon.process(), {icon.icon().begin(), icon.icon().end()}});
    }
    return batch;
}

// A computer's batches in flight, within kMaxBatchesPerComputer.
class BatchSlot {
public:
    BatchSlot(std::mutex& mutex, std::map<std::string, int>& inFlight, std::string computer)
        : mutex_(mutex), inFlight_(inFlight), computer_(std::move(computer)) {
        std::lock_guard lock(mutex_);
        taken_ = inFlight_[computer_] < kMaxBatchesPerComputer;
        if (taken_) {
            ++inFlight_[computer_];
        } else if (inFlight_[computer_] == 0) {
            inFlight_.erase(computer_);
        }
    }
    ~BatchSlot() {
        if (!taken_) return;
        std::lock_guard lock(mutex_);
        if (--inFlight_[computer_] == 0) inFlight_.erase(computer_);
    }
    BatchSlot(const BatchSlot&) = delete;
    BatchSlot& operator=(const BatchSlot&) = delete;
    bool Taken() const { return taken_; }

private:
    std::mutex& mutex_;
    std::map<std::string, int>& inFlight_;
    std::string computer_;
    bool taken_ = false;
};

}  // namespace

RecordingService::RecordingService(const RecorderIdentity& identity, std::string store)
    : identity_(identity), ingest_(std::move(store)) {}

grpc::Status RecordingService::Record(grpc::ServerContext* context, const quorvis::v1::RecordBatch* request,
                                      quorvis::v1::RecordReply* reply) {
    if (!identity_.Enabled()) {
        return {grpc::StatusCode::FAILED_PRECONDITION,
                "Recording is off on this service; it takes records when started with --recorder-ca."};
    }
    const auto computer = identity_.ComputerOf(*context);
    if (!computer) {
        LogLine("refused a batch from " + Printable(context->peer()) + ": no recorder certificate");
        return {grpc::StatusCode::PERMISSION_DENIED,
                "Only a recorder's certificate, signed by the service's recorder CA, may record."};
    }
    for (const auto& record : request->records()) {
        if (!SameComputer(record.computer(), *computer)) {
            LogLine("refused a batch of " + Printable(*computer) + ": it holds records of " +
                    Printable(record.computer()));
            return {grpc::StatusCode::PERMISSION_DENIED, "This certificate records the computer " +
                                                             Printable(*computer) + " only; a record names " +
                                                             Printable(record.computer()) + "."};
        }
    }
    const BatchSlot slot(mutex_, inFlight_, *computer);
    if (!slot.Taken()) {
        return {grpc::StatusCode::RESOURCE_EXHAUSTED,
                "Too many batches of " + Printable(*computer) + " at once; send one at a time."};
    }
    try {
        const BatchReceipt receipt = ingest_.Store(FromWire(*request));
        reply->set_committed_sequence(receipt.committedSequence);
        for (const std::string& process : receipt.programsWithoutIcon) reply->add_programs_without_icon(process);
        return grpc::Status::OK;
    } catch (const InvalidRecord& error) {
        LogLine("refused a batch of " + Printable(*computer) + ": " + error.what());
        return {grpc::StatusCode::INVALID_ARGUMENT,
                std::string("The batch was refused, nothing of it stored: ") + error.what()};
    } catch (const StoreError& error) {
        LogLine("could not store a batch of " + Printable(*computer) + ": " + error.what());
        return {grpc::StatusCode::UNAVAILABLE,
                "The service cannot store the batch now; send it again later. The service's log says why."};
    }
}

}  // namespace qv::server
