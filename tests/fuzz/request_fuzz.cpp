// libFuzzer target of what the service reads from a caller (query and program-information requests, activation ids):
// each is answered from a small store or refused with InvalidRequest, and every reply's description is UTF-8.
#include "proto/qv_contract.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/query/activity_query.h"
#include "qvservice/query/query_request.h"
#include "qvservice/rpc/connection_pool.h"
#include "qvservice/rpc/quorvis_service.h"
#include "qvservice/store/sqlite_db.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <grpcpp/server_context.h>

#include <cstdlib>

namespace {

using namespace qv;
using namespace qv::server;

constexpr std::size_t kMaxRequestBytes = qv::contract::kQueryRequestSize + 8;
constexpr std::size_t kMaxIdBytes = 64;
constexpr std::int64_t kFirstRecordMs = 1'600'000'000'000;  // September 2020
constexpr std::int64_t kRecordSpacingMs = 5'000'000'000;    // about two months
constexpr int kRecords = 6;

Database& Store() {
    static const std::unique_ptr<Database> db = [] {
        auto store = std::make_unique<SqliteDatabase>(":memory:", Database::Mode::Create);
        EnsureSchema(*store);
        Transaction transaction(*store, Transaction::Kind::Write);
        RecordWriter writer(*store);
        for (int i = 0; i < kRecords; ++i)
            writer.Add(ActivityRecord{"user" + std::to_string(i % 2), "pc" + std::to_string(i % 3), "app.exe", "An app",
                                      "Window " + std::to_string(i), kFirstRecordMs + i * kRecordSpacingMs,
                                      60'000 * (i + 1), i, 2 * i});
        writer.Finish();
        transaction.Commit();
        return store;
    }();
    return *db;
}

void Drain(ResultCursor& cursor) {
    quorvis::v1::ResultPart part;
    for (quorvis::v1::Row row; cursor.Next(row); row.Clear()) {
        if (static_cast<std::size_t>(row.values_size()) != cursor.Fields().size()) std::abort();
        *part.add_rows() = row;
    }
    std::string wire;
    if (!part.SerializeToString(&wire)) std::abort();
}

template <typename Parse, typename Open>
void Answer(std::string_view bytes, Parse parse, Open open) {
    try {
        Drain(*open(Store(), parse(bytes)));
    } catch (const InvalidRequest&) {}
}

void Activate(const std::string& classId, const std::string& interfaceId) {
    static ConnectionPool pool(":memory:", 1);
    static QuorvisService service(pool, AccessPolicy());
    grpc::ServerContext context;
    quorvis::v1::ActivateRequest request;
    request.set_class_id(classId);
    request.set_interface_id(interfaceId);
    quorvis::v1::ActivateReply reply;
    if (!service.Activate(&context, &request, &reply).ok()) std::abort();
    const bool known = reply.hresult() == qv::contract::kOk;
    std::string wire;
    if (!reply.SerializeToString(&wire) || known != reply.description().empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
        case 0: Answer(input.ConsumeBytesAsString(kMaxRequestBytes), ParseActivityRequest, OpenActivityQuery); break;
        case 1: Answer(input.ConsumeBytesAsString(kMaxRequestBytes), ParseProgramInfoRequest, OpenProgramInfo); break;
        default: {
            const std::string classId = input.ConsumeRandomLengthString(kMaxIdBytes);
            Activate(classId, input.ConsumeRandomLengthString(kMaxIdBytes));
            break;
        }
    }
    return 0;
}
