#include "tests/support/test_support.h"

#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/store_database.h"

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace qv::test {

// Runs fill with a writer on the store, in one transaction.
template <typename Fill>
static void InOneTransaction(const std::string& storePath, Fill fill) {
    const auto store = server::OpenStore(storePath, server::Database::Mode::Create);
    server::EnsureSchema(*store);
    server::Transaction transaction(*store, server::Transaction::Kind::Write);
    server::RecordWriter writer(*store);
    fill(writer);
    writer.Finish();
    transaction.Commit();
}

// A deadline and the caller's name on a call.
static void Prepare(grpc::ClientContext& context, const CallIdentity& identity) {
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
    if (!identity.user.empty()) context.AddMetadata(std::string(contract::kUserMetadataKey), identity.user);
}

std::string CopyTestCertificates(const TempDir& dir) {
    namespace fs = std::filesystem;
    const fs::path folder = dir.File("certs");
    fs::create_directory(folder);
    for (const auto& entry : fs::directory_iterator(QV_TEST_DATA_DIR)) {
        const fs::path name = entry.path().filename();
        if (name.extension() != ".pem" && name.extension() != ".key") continue;
        fs::copy_file(entry.path(), folder / name, fs::copy_options::overwrite_existing);
        const auto own = fs::perms::owner_read | fs::perms::owner_write;
        fs::permissions(folder / name,
                        name.extension() == ".key" ? own : own | fs::perms::group_read | fs::perms::others_read);
    }
    return folder.string();
}

std::vector<server::RecordIds> WriteRecords(const std::string& storePath,
                                            const std::vector<qv::ActivityRecord>& records) {
    std::vector<server::RecordIds> ids;
    InOneTransaction(storePath, [&](server::RecordWriter& writer) {
        for (const auto& record : records) ids.push_back(writer.Add(record));
    });
    return ids;
}

std::int64_t StoreRowCount(const std::string& storePath, const std::string& table) {
    const auto db = server::OpenStore(storePath, server::Database::Mode::ReadOnly);
    if (!server::IsPostgresStore(storePath)) {
        server::Statement integrity(*db, "PRAGMA integrity_check");
        EXPECT_TRUE(integrity.Step() && integrity.Bytes(0) == "ok") << storePath;
    }
    server::Statement count(*db, "SELECT count(*) FROM " + table);
    count.Step();
    return count.Int64(0);
}

std::string SmallStore(const TempDir& dir) {
    const std::string path = dir.File("store.db");
    WriteRecords(path, {{"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20},
                        {"ben", "WS-02", "app.exe", "", "y", 1'700'000'100'000, 30'000, 5, 5}});
    return path;
}

void WriteManyTitles(const std::string& storePath, std::size_t rows) {
    InOneTransaction(storePath, [&](server::RecordWriter& writer) {
        const auto program = writer.Entities().ProgramId("browser.exe", "");
        const server::RecordIds base{writer.Entities().UserId("anna"), writer.Entities().ComputerId("WS-01"), program,
                                     0};
        for (std::size_t i = 0; i < rows; ++i) {
            server::RecordIds ids = base;
            ids.window = writer.Entities().WindowId(program, "Tab " + std::to_string(i) + (i % 2 ? " \xFF" : ""));
            writer.AddResolved(ids, 1'700'000'000'000 + static_cast<std::int64_t>(i), 1000, 1, 1);
        }
    });
}

int Answer::Field(const std::string& name) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name() == name) return static_cast<int>(i);
    }
    return -1;
}

const quorvis::v1::Value& Cell(const Answer& answer, const quorvis::v1::Row& row, const std::string& field) {
    const int index = answer.Field(field);
    if (index < 0 || index >= row.values_size()) throw std::out_of_range("no field " + field);
    return row.values(index);
}

ServiceClient::ServiceClient(std::shared_ptr<grpc::Channel> channel)
    : stub_(quorvis::v1::QuorvisService::NewStub(std::move(channel))) {}

ServiceClient::ServiceClient(const std::string& address)
    : ServiceClient(grpc::CreateChannel(address, grpc::InsecureChannelCredentials())) {}

ServiceClient TlsClient(const std::string& address, const std::string& certs, const std::string& certificate) {
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = ReadFile(certs + "/test-ca.pem");
    if (!certificate.empty()) {
        tls.pem_private_key = ReadFile(certs + "/" + certificate + ".key");
        tls.pem_cert_chain = ReadFile(certs + "/" + certificate + ".pem");
    }
    return ServiceClient(grpc::CreateChannel(address, grpc::SslCredentials(tls)));
}

quorvis::v1::ActivateReply ServiceClient::Activate(const CallIdentity& identity, grpc::Status* status) {
    grpc::ClientContext context;
    Prepare(context, identity);
    quorvis::v1::ActivateRequest request;
    request.set_class_id(identity.classId);
    request.set_interface_id(identity.interfaceId);
    quorvis::v1::ActivateReply reply;
    const grpc::Status result = stub_->Activate(&context, request, &reply);
    if (status) *status = result;
    return reply;
}

Answer ServiceClient::Query(const std::string& request, const CallIdentity& identity,
                            const std::function<void(const quorvis::v1::Row&)>& onRow) {
    return Read(false, request, identity, onRow);
}

Answer ServiceClient::ProgramInfo(const std::string& request, const CallIdentity& identity) {
    return Read(true, request, identity, {});
}

Answer ServiceClient::Read(bool programInfo, const std::string& request, const CallIdentity& identity,
                           const std::function<void(const quorvis::v1::Row&)>& onRow) {
    grpc::ClientContext context;
    Prepare(context, identity);
    quorvis::v1::OperationRequest operation;
    operation.set_class_id(identity.classId);
    operation.set_interface_id(identity.interfaceId);
    operation.set_request(request);
    auto reader = programInfo ? stub_->QueryProgramInfo(&context, operation) : stub_->Query(&context, operation);
    Answer answer;
    quorvis::v1::ResultPart part;
    if (reader->Read(&part)) {
        EXPECT_TRUE(part.has_header() && part.rows().empty()) << "the first message is the header alone";
        answer.hresult = part.header().hresult();
        answer.description = part.header().description();
        answer.fields.assign(part.header().fields().begin(), part.header().fields().end());
    }
    while (reader->Read(&part)) {
        EXPECT_FALSE(part.has_header()) << "only rows follow the header";
        ++answer.batches;
        for (const auto& row : part.rows()) {
            ++answer.rowCount;
            onRow ? onRow(row) : answer.rows.push_back(row);
        }
    }
    answer.status = reader->Finish();
    return answer;
}

StalledReader::StalledReader(quorvis::v1::QuorvisService::Stub& stub, const std::string& caller) {
    context_.AddMetadata(std::string(contract::kUserMetadataKey), caller);
    quorvis::v1::OperationRequest request;
    request.set_class_id(std::string(contract::kClassId));
    request.set_interface_id(std::string(contract::kQueryInterfaceId));
    request.set_request(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0));
    reader_ = stub.Query(&context_, request);
    quorvis::v1::ResultPart header;
    if (reader_->Read(&header)) hresult = header.header().hresult();
}

grpc::Status StalledReader::Drain() {
    quorvis::v1::ResultPart part;
    while (reader_->Read(&part)) {}
    return reader_->Finish();
}

server::ServeOptions StoreOptions(const std::string& storePath) {
    server::ServeOptions options;
    options.storePath = storePath;
    return options;
}

LocalService::LocalService(server::ServeOptions options) {
    if (options.listen.empty()) options.listen = "127.0.0.1:0";
    host_ = std::make_unique<server::ServiceHost>(options);
    address_ = host_->Start();
}

LocalService::~LocalService() {
    host_->Shutdown();
    host_->Wait();
}

ServiceClient LocalService::Client() const { return ServiceClient(address_); }

std::int64_t TotalTimeSpent(ServiceClient& client) {
    const Answer answer = client.Query(server::EncodeActivityRequest(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(answer.hresult, contract::kOk) << answer.description;
    std::int64_t total = 0;
    for (const auto& row : answer.rows) total += Cell(answer, row, "TimeSpent").integer();
    return total;
}

}  // namespace qv::test
