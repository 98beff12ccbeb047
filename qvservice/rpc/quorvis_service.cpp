#include "qvservice/rpc/quorvis_service.h"

#include "proto/qv_contract.h"
#include "qvservice/query/activity_query.h"
#include "qvservice/query/query_request.h"
#include "records/log.h"

#include <algorithm>
#include <functional>

namespace qv::server {

namespace {

using quorvis::v1::ResultPart;

bool SameId(std::string_view a, std::string_view b) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

// Lets the store give up when the caller has gone away (cancelled, deadline
// passed, server shutting down).
class CancelCheck {
public:
    CancelCheck(Database& db, std::function<bool()> callEnded) : db_(db) { db.SetInterrupt(std::move(callEnded)); }
    ~CancelCheck() { db_.SetInterrupt({}); }
    CancelCheck(const CancelCheck&) = delete;
    CancelCheck& operator=(const CancelCheck&) = delete;

private:
    Database& db_;
};

// What the caller hears when the store fails; the log has the details.
std::string StoreFailureText(const StoreError& error) {
    switch (error.Reason()) {
        case StoreError::Kind::Unreachable: return "The service cannot reach its store; the service's log says why.";
        case StoreError::Kind::ConnectionLost:
            return "The service lost its connection to the store; the next request connects again. The service's log "
                   "says "
                   "more.";
        case StoreError::Kind::Failed: break;
    }
    return "The store cannot answer; the service's log says why.";
}

// Close enough to a row's encoded size to keep batches under their byte
// budget, without the cost of computing the exact size of every row.
std::size_t ApproximateBytes(const quorvis::v1::Row& row) {
    std::size_t bytes = 0;
    for (const auto& value : row.values()) bytes += 12 + (value.has_bytes() ? value.bytes().size() : 0);
    return bytes;
}

void Fail(ResultPart& part, std::int32_t hresult, const std::string& description) {
    part.mutable_header()->set_hresult(hresult);
    part.mutable_header()->set_description(description);
}

}  // namespace

class QuorvisService::InFlight {
public:
    explicit InFlight(QuorvisService& service) : service_(service) {
        std::lock_guard lock(service.callsMutex_);
        ++service.calls_;
    }
    ~InFlight() {
        std::lock_guard lock(service_.callsMutex_);
        if (--service_.calls_ == 0) service_.callsDone_.notify_all();
    }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

private:
    QuorvisService& service_;
};

// One of a caller's operations in flight, if the caller, its address and
// the service each have a slot left.
class QuorvisService::CallerSlot {
public:
    enum class Full { None, Caller, Address, Service };

    // address: empty when the caller's name is not claimed but proven.
    CallerSlot(QuorvisService& service, std::string caller, std::string address)
        : service_(service), caller_(std::move(caller)), address_(std::move(address)) {
        const CallLimits& limits = service.limits_;
        std::lock_guard lock(service.callsMutex_);
        const auto calls = [](const std::map<std::string, int>& counts, const std::string& key) {
            const auto found = counts.find(key);
            return found == counts.end() ? 0 : found->second;
        };
        if (calls(service.callsByCaller_, caller_) >= limits.maxCallsPerCaller) {
            full_ = Full::Caller;
        } else if (!address_.empty() && calls(service.callsByAddress_, address_) >= limits.maxCallsPerAddress) {
            full_ = Full::Address;
        } else if (limits.maxCalls > 0 && service.operations_ >= limits.maxCalls) {
            full_ = Full::Service;
        } else {
            ++service.callsByCaller_[caller_];
            if (!address_.empty()) ++service.callsByAddress_[address_];
            ++service.operations_;
        }
    }
    ~CallerSlot() {
        if (full_ != Full::None) return;
        std::lock_guard lock(service_.callsMutex_);
        Release(service_.callsByCaller_, caller_);
        if (!address_.empty()) Release(service_.callsByAddress_, address_);
        --service_.operations_;
    }
    CallerSlot(const CallerSlot&) = delete;
    CallerSlot& operator=(const CallerSlot&) = delete;
    Full Refused() const { return full_; }

private:
    static void Release(std::map<std::string, int>& counts, const std::string& key) {
        if (--counts[key] == 0) counts.erase(key);
    }

    QuorvisService& service_;
    std::string caller_;
    std::string address_;
    Full full_ = Full::None;
};

bool QuorvisService::WaitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(callsMutex_);
    return callsDone_.wait_until(lock, deadline, [this] { return calls_ == 0; });
}

std::optional<QuorvisService::Refusal> QuorvisService::Check(const grpc::ServerContext& context,
                                                             const std::string& classId, const std::string& interfaceId,
                                                             bool activation, const char* operation) const {
    if (!SameId(classId, contract::kClassId)) {
        return Refusal{contract::kClassNotRegistered,
                       "Class " + Printable(classId) + " is not registered on this server."};
    }
    if (recorders_ != nullptr && recorders_->ComputerOf(context)) {
        LogLine("refused the recorder of " + Printable(*recorders_->ComputerOf(context)) + " from " +
                Printable(context.peer()) + " (" + operation + ")");
        return Refusal{contract::kAccessDenied, "Access is denied. A recorder's certificate cannot query."};
    }
    const std::string caller = policy_.CallerOf(context);
    if (!policy_.Allows(caller)) {
        LogLine("refused caller '" + Printable(caller) + "' from " + Printable(context.peer()) + " (" + operation +
                ")");
        return Refusal{contract::kAccessDenied, caller.empty() && policy_.NamesByCertificate()
                                                    ? "Access is denied. The caller gave no client certificate."
                                                    : "Access is denied."};
    }
    const bool offered = SameId(interfaceId, contract::kQueryInterfaceId) ||
                         (activation && SameId(interfaceId, contract::kUnknownInterfaceId));
    if (!offered) {
        return Refusal{contract::kNoInterface, "The object does not offer interface " + Printable(interfaceId) + "."};
    }
    return std::nullopt;
}

grpc::Status QuorvisService::Activate(grpc::ServerContext* context, const quorvis::v1::ActivateRequest* request,
                                      quorvis::v1::ActivateReply* reply) {
    const InFlight call(*this);
    if (const auto refusal = Check(*context, request->class_id(), request->interface_id(), true, "Activate")) {
        reply->set_hresult(refusal->hresult);
        reply->set_description(refusal->description);
    } else {
        reply->set_hresult(contract::kOk);
    }
    return grpc::Status::OK;
}

grpc::Status QuorvisService::Query(grpc::ServerContext* context, const quorvis::v1::OperationRequest* request,
                                   grpc::ServerWriter<ResultPart>* writer) {
    return Answer(context, *request, writer, "Query", [](Database& db, const std::string& bytes) {
        return OpenActivityQuery(db, ParseActivityRequest(bytes));
    });
}

grpc::Status QuorvisService::QueryProgramInfo(grpc::ServerContext* context,
                                              const quorvis::v1::OperationRequest* request,
                                              grpc::ServerWriter<ResultPart>* writer) {
    return Answer(context, *request, writer, "QueryProgramInfo", [](Database& db, const std::string& bytes) {
        return OpenProgramInfo(db, ParseProgramInfoRequest(bytes));
    });
}

grpc::Status QuorvisService::Answer(grpc::ServerContext* context, const quorvis::v1::OperationRequest& request,
                                    grpc::ServerWriter<ResultPart>* writer, const char* operation, const Opener& open) {
    const InFlight call(*this);
    ResultPart header;
    if (const auto refusal = Check(*context, request.class_id(), request.interface_id(), false, operation)) {
        Fail(header, refusal->hresult, refusal->description);
        writer->Write(header);
        return grpc::Status::OK;
    }
    const std::string caller = policy_.CallerOf(*context);
    const CallerSlot slot(*this, caller, policy_.NamesByCertificate() ? std::string() : PeerHost(context->peer()));
    if (slot.Refused() != CallerSlot::Full::None) {
        std::string whose;
        std::string description;
        switch (slot.Refused()) {
            case CallerSlot::Full::Caller:
                whose = "caller '" + Printable(caller) + "'";
                description = "The service is already answering " + std::to_string(limits_.maxCallsPerCaller) +
                              " calls of this caller; try again when one of them has ended.";
                break;
            case CallerSlot::Full::Address:
                whose = "address " + Printable(PeerHost(context->peer()));
                description = "The service is already answering " + std::to_string(limits_.maxCallsPerAddress) +
                              " calls from this caller's address; try again when one of them has ended.";
                break;
            default:
                whose = "all callers";
                description = "The service is answering as many calls as it can; try again when one of them has ended.";
                break;
        }
        LogLine("too many calls of " + whose + " at once (" + operation + ")");
        Fail(header, contract::kServerTooBusy, description);
        writer->Write(header);
        return grpc::Status::OK;
    }
    const auto watch = watchdog_.Start(*context);
    grpc::Status status = Stream(context, request, writer, operation, open, *watch);
    if (watch->Expired()) {
        const std::string limit = std::to_string(limits_.callTimeout.count()) + " s";
        LogLine(std::string(operation) + " from '" + Printable(caller) + "' ended at the call time limit of " + limit);
        status = grpc::Status(grpc::StatusCode::DEADLINE_EXCEEDED,
                              "the call outlasted the service's time limit of " + limit);
    }
    return status;
}

grpc::Status QuorvisService::Stream(grpc::ServerContext* context, const quorvis::v1::OperationRequest& request,
                                    grpc::ServerWriter<ResultPart>* writer, const char* operation, const Opener& open,
                                    const CallWatchdog::Watch& watch) {
    ResultPart header;
    bool headerSent = false;
    try {
        const auto callEnded = [context, &watch] { return watch.Expired() || context->IsCancelled(); };
        auto db = pool_.Acquire(callEnded);
        CancelCheck cancelCheck(*db, callEnded);
        const auto cursor = open(*db, request.request());
        // The first row is read before the header goes out: the store does the
        // query's work there, so its failures still become a failed answer.
        ResultPart batch;
        auto* rows = batch.mutable_rows();
        bool more = cursor->Next(*rows->Add());
        if (!more) rows->RemoveLast();
        header.mutable_header()->set_hresult(contract::kOk);
        for (const FieldSpec& column : cursor->Fields()) {
            auto* field = header.mutable_header()->add_fields();
            field->set_name(std::string(column.name));
            field->set_ado_type(column.adoType);
            field->set_defined_size(column.definedSize);
        }
        headerSent = true;
        if (!writer->Write(header)) return grpc::Status(grpc::StatusCode::CANCELLED, "the caller went away");
        std::size_t batchBytes = rows->empty() ? 0 : ApproximateBytes(rows->Get(0));
        while (more) {
            auto* row = rows->Add();
            more = cursor->Next(*row);
            if (!more) {
                rows->RemoveLast();
                break;
            }
            batchBytes += ApproximateBytes(*row);
            if (rows->size() >= contract::kRowsPerBatch || batchBytes >= contract::kBatchBytes) {
                if (!writer->Write(batch)) return grpc::Status(grpc::StatusCode::CANCELLED, "the caller went away");
                rows->Clear();
                batchBytes = 0;
            }
        }
        if (!rows->empty() && !writer->Write(batch)) {
            return grpc::Status(grpc::StatusCode::CANCELLED, "the caller went away");
        }
        return grpc::Status::OK;
    } catch (const InvalidRequest& error) {
        Fail(header, contract::kInvalidArg, error.what());
    } catch (const StoreError& error) {
        if (watch.Expired() || context->IsCancelled())
            return grpc::Status(grpc::StatusCode::CANCELLED, "the caller went away");
        LogLine(std::string(operation) + " failed: " + error.what());
        // Rows already sent cannot be taken back: fail the whole call instead.
        if (headerSent) return grpc::Status(grpc::StatusCode::INTERNAL, "the store failed while answering");
        Fail(header, contract::kFail, StoreFailureText(error));
    }
    writer->Write(header);
    return grpc::Status::OK;
}

}  // namespace qv::server
