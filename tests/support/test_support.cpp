#include "tests/support/test_support.h"

#include "qvservice/store/store_database.h"
#include "qvservice/model/store_schema.h"

#include <grpcpp/create_channel.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qv::test {

namespace {
constexpr auto kCallDeadline = std::chrono::seconds(60);
}

std::string CopyTestCertificates(const TempDir& dir) {
  namespace fs = std::filesystem;
  const fs::path folder = dir.File("certs");
  fs::create_directory(folder);
  for (const auto& entry : fs::directory_iterator(QV_TEST_DATA_DIR)) {
    const fs::path name = entry.path().filename();
    if (name.extension() != ".pem" && name.extension() != ".key") continue;
    fs::copy_file(entry.path(), folder / name, fs::copy_options::overwrite_existing);
    fs::permissions(folder / name, name.extension() == ".key" ? fs::perms::owner_read | fs::perms::owner_write
                                                              : fs::perms::owner_read | fs::perms::owner_write |
                                                                    fs::perms::group_read | fs::perms::others_read);
  }
  return folder.string();
}

std::vector<server::RecordIds> WriteRecords(const std::string& storePath,
                                            const std::vector<server::ActivityRecord>& records) {
  const auto store = server::OpenStore(storePath, server::Database::Mode::Create);
  server::Database& db = *store;
  server::EnsureSchema(db);
  server::Transaction transaction(db, server::Transaction::Kind::Write);
  server::RecordWriter writer(db);
  std::vector<server::RecordIds> ids;
  for (const auto& record : records) ids.push_back(writer.Add(record));
  writer.Finish();
  transaction.Commit();
  return ids;
}

void WriteManyTitles(const std::string& storePath, std::size_t rows) {
  const auto store = server::OpenStore(storePath, server::Database::Mode::Create);
  server::Database& db = *store;
  server::EnsureSchema(db);
  server::Transaction transaction(db, server::Transaction::Kind::Write);
  server::RecordWriter writer(db);
  const auto program = writer.Entities().ProgramId("browser.exe", "");
  const server::RecordIds base{writer.Entities().UserId("anna"), writer.Entities().ComputerId("WS-01"), program, 0};
  for (std::size_t i = 0; i < rows; ++i) {
    server::RecordIds ids = base;
    ids.window = writer.Entities().WindowId(program, "Tab " + std::to_string(i) + (i % 2 ? " \xFF" : ""));
    writer.AddResolved(ids, 1'700'000'000'000 + static_cast<std::int64_t>(i), 1000, 1, 1);
  }
  writer.Finish();
  transaction.Commit();
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

quorvis::v1::ActivateReply ServiceClient::Activate(const CallIdentity& identity, grpc::Status* status) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + kCallDeadline);
  if (!identity.user.empty()) context.AddMetadata(std::string(contract::kUserMetadataKey), identity.user);
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
  context.set_deadline(std::chrono::system_clock::now() + kCallDeadline);
  if (!identity.user.empty()) context.AddMetadata(std::string(contract::kUserMetadataKey), identity.user);
  quorvis::v1::OperationRequest operation;
  operation.set_class_id(identity.classId);
  operation.set_interface_id(identity.interfaceId);
  operation.set_request(request);
  auto reader = programInfo ? stub_->QueryProgramInfo(&context, operation) : stub_->Query(&context, operation);
  Answer answer;
  quorvis::v1::ResultPart part;
  bool first = true;
  while (reader->Read(&part)) {
    if (first) {
      EXPECT_TRUE(part.has_header() && part.rows().empty()) << "the first message is the header alone";
      answer.hresult = part.header().hresult();
      answer.description = part.header().description();
      answer.fields.assign(part.header().fields().begin(), part.header().fields().end());
      first = false;
      continue;
    }
    EXPECT_FALSE(part.has_header()) << "only rows follow the header";
    ++answer.batches;
    for (const auto& row : part.rows()) {
      ++answer.rowCount;
      if (onRow) {
        onRow(row);
      } else {
        answer.rows.push_back(row);
      }
    }
  }
  answer.status = reader->Finish();
  return answer;
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

ServiceClient LocalService::Client() const {
  return ServiceClient(grpc::CreateChannel(address_, grpc::InsecureChannelCredentials()));
}

}  // namespace qv::test
