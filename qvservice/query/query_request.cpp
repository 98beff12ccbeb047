#include "qvservice/query/query_request.h"

#include "proto/qv_contract.h"

#include <bit>
#include <cstring>

namespace qv::server {

namespace {

template <typename Record>
Record ReadRecord(std::string_view bytes) {
    Record record;
    std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

template <typename Record>
std::string Bytes(const Record& record) {
    const auto bytes = RequestBytes(record);
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::int64_t PeriodEdge(double oleDate, const char* which) {
    const auto ms = LocalOleDateToEpochMs(oleDate);
    if (!ms) throw InvalidRequest(std::string("The period ") + which + " is not a valid date.");
    return *ms;
}

}  // namespace

ActivityRequest ParseActivityRequest(std::string_view bytes) {
    if (bytes.size() != contract::kQueryRequestSize) {
        throw InvalidRequest("A query request is " + std::to_string(contract::kQueryRequestSize) + " bytes long, not " +
                             std::to_string(bytes.size()) + ".");
    }
    const auto record = ReadRecord<QueryRequest>(bytes);
    if (record.kind < static_cast<std::int32_t>(QueryKind::Users) ||
        record.kind > static_cast<std::int32_t>(kLastQueryKind)) {
        throw InvalidRequest("Unknown query kind " + std::to_string(record.kind) + ".");
    }
    ActivityRequest request;
    request.kind = static_cast<QueryKind>(record.kind);
    request.computerId = record.computerId;
    request.userId = record.userId;
    request.programId = record.programId;
    if (record.periodStart != 0.0 || record.periodEnd != 0.0) {
        request.period = MsRange{PeriodEdge(record.periodStart, "start"), PeriodEdge(record.periodEnd, "end")};
    }
    return request;
}

std::uint32_t ParseProgramInfoRequest(std::string_view bytes) {
    if (bytes.size() != contract::kProgramInfoRequestSize) {
        throw InvalidRequest("A program-information request is " + std::to_string(contract::kProgramInfoRequestSize) +
                             " bytes long, not " + std::to_string(bytes.size()) + ".");
    }
    const auto record = ReadRecord<ProgramInfoRequest>(bytes);
    if (record.kind != ProgramInfoRequest{}.kind) {
        throw InvalidRequest("Unknown program-information kind " + std::to_string(record.kind) + ".");
    }
    return record.programId;
}

std::string EncodeActivityRequest(std::int32_t kind, std::uint32_t computerId, std::uint32_t userId,
                                  std::uint32_t programId, double periodStart, double periodEnd) {
    QueryRequest record;
    record.kind = kind;
    record.computerId = computerId;
    record.userId = userId;
    record.programId = programId;
    record.periodStart = periodStart;
    record.periodEnd = periodEnd;
    return Bytes(record);
}

std::string EncodeProgramInfoRequest(std::uint32_t programId) {
    ProgramInfoRequest record;
    record.programId = programId;
    return Bytes(record);
}

}  // namespace qv::server
