// The qvservice program itself: serving on a free loopback port, stopping on
// signals, refusing callers, TLS identities, its commands, and a result set
// of a million rows.
#include "icon_file.h"
#include "query_request.h"
#include "service_process.h"
#include "store_schema.h"
#include "test_support.h"

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv::test {
namespace {

using server::EncodeActivityRequest;

constexpr auto kConnectLimit = std::chrono::seconds(30);

std::string SmallStore(const TempDir& dir) {
  const std::string path = dir.File("store.db");
  WriteRecords(path, {{"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20},
                      {"ben", "WS-02", "app.exe", "", "y", 1'700'000'100'000, 30'000, 5, 5}});
  return path;
}

std::shared_ptr<grpc::Channel> Connect(const std::string& address,
                                       std::shared_ptr<grpc::ChannelCredentials> credentials =
                                           grpc::InsecureChannelCredentials()) {
  auto channel = grpc::CreateChannel(address, std::move(credentials));
  EXPECT_TRUE(channel->WaitForConnected(std::chrono::system_clock::now() + kConnectLimit)) << address;
  return channel;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ServiceEndToEnd, ServesOnALoopbackPortAndStopsCleanlyOnSignals) {
  TempDir dir;
  const std::string store = SmallStore(dir);
  {
    ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0"});
    const std::string address = service.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << service.Log();
    ServiceClient client(Connect(address));
    EXPECT_EQ(client.Activate({}).hresult(), contract::kOk);
    EXPECT_EQ(client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0)).rows.size(), 2u);

    // The port is taken: a second service must say so instead of sharing it.
    const ToolResult second = RunQvservice({"serve", "--store", store, "--listen", address});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;

    EXPECT_EQ(service.Stop(SIGTERM), 0);
    EXPECT_NE(service.Log().find("started, listening on " + address), std::string::npos) << service.Log();
    EXPECT_NE(service.Log().find("stopping on SIGTERM"), std::string::npos);
    EXPECT_NE(service.Log().find("stopped"), std::string::npos);
  }
  {
    ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0", "--allow", "alice"});
    const std::string address = service.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << service.Log();
    ServiceClient client(Connect(address));
    EXPECT_EQ(client.Activate({"bob"}).hresult(), contract::kAccessDenied);
    EXPECT_EQ(client.Activate({"alice"}).hresult(), contract::kOk);
    EXPECT_EQ(service.Stop(SIGINT), 0);
    EXPECT_NE(service.Log().find("refused caller 'bob'"), std::string::npos) << service.Log();
    EXPECT_EQ(service.Log().find("refused caller 'alice'"), std::string::npos);
    EXPECT_NE(service.Log().find("stopping on SIGINT"), std::string::npos);
  }
}

TEST(ServiceEndToEnd, BadStartsEndWithAClearMessage) {
  TempDir dir;
  const ToolResult missing = RunQvservice({"serve", "--store", dir.File("none.db"), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cannot open store"), std::string::npos) << missing.err;

  const std::string notAStore = dir.File("text.db");
  std::ofstream(notAStore) << "this is not a database, just some text that is long enough to look like a header";
  const ToolResult text = RunQvservice({"serve", "--store", notAStore, "--listen", "127.0.0.1:0"});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_NE(text.err.find("qvservice: "), std::string::npos);

  const std::string store = SmallStore(dir);
  EXPECT_EQ(RunQvservice({"serve", "--store", store, "--listen", "127.0.0.1:99999"}).exitCode, 1);
  EXPECT_EQ(RunQvservice({"serve", "--store", store, "--tls-cert", dir.File("none.pem")}).exitCode, 1);
  EXPECT_EQ(RunQvservice({"serve"}).exitCode, 2);
  EXPECT_EQ(RunQvservice({"serve", "--store", store, "--bogus", "1"}).exitCode, 2);
  EXPECT_EQ(RunQvservice({"frobnicate"}).exitCode, 2);
  EXPECT_EQ(RunQvservice({}).exitCode, 2);
}

TEST(ServiceEndToEnd, ImportAndDemoCommandsFillStoresTheServiceAnswersFrom) {
  TempDir dir;
  const std::string csv = dir.File("records.csv");
  std::ofstream(csv) << "user,computer,process,description,window_title,start,duration_ms,keyboard_events,mouse_events\n"
                        "anna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,1000,1,1\n";
  const std::string store = dir.File("imported.db");
  const ToolResult first = RunQvservice({"import", "--store", store, csv});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.out.find("imported 1 records"), std::string::npos) << first.out;
  const ToolResult again = RunQvservice({"import", "--store", store, csv});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("imported before"), std::string::npos) << again.err;
  const std::string bad = dir.File("bad.csv");
  std::ofstream(bad) << ReadFile(csv) << "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,1\n";
  const ToolResult badRow = RunQvservice({"import", "--store", store, bad});
  EXPECT_EQ(badRow.exitCode, 1);
  EXPECT_NE(badRow.err.find("line 3: expected 9 fields"), std::string::npos) << badRow.err;
  const std::string tooMany = dir.File("too-many.csv");
  std::ofstream(tooMany) << ReadFile(csv) << "ben,WS-02,b.exe,,t,2024-03-25T10:00:00Z,1000,2147483648,1\n";
  const std::string fresh = dir.File("fresh.db");
  const ToolResult refused = RunQvservice({"import", "--store", fresh, tooMany});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("line 3: keyboard_events is above 2147483647"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(fresh)) << "a failed import leaves no new store";

  const std::string demo = dir.File("demo.db");
  const ToolResult made = RunQvservice({"demo", "--store", demo, "--records", "20000"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_NE(made.out.find("wrote"), std::string::npos);
  const ToolResult twice = RunQvservice({"demo", "--store", demo});
  EXPECT_EQ(twice.exitCode, 1);
  EXPECT_NE(twice.err.find("exists already"), std::string::npos);

  ServiceProcess service({"serve", "--store", demo, "--listen", "127.0.0.1:0"});
  const std::string address = service.WaitUntilListening();
  ASSERT_FALSE(address.empty()) << service.Log();
  ServiceClient client(Connect(address));
  const Answer users = client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(users.rows.size(), 25u);
  const Answer programs = client.Query(EncodeActivityRequest(2, 0, 0, 0, 0, 0));
  EXPECT_GT(programs.rows.size(), 30u);
  for (const auto& row : programs.rows) {
    const auto id = static_cast<std::uint32_t>(Cell(programs, row, "ID").integer());
    const Answer info = client.ProgramInfo(server::EncodeProgramInfoRequest(id));
    ASSERT_EQ(info.rows.size(), 1u);
    const std::string icon = Cell(info, info.rows[0], "Icon").bytes();
    EXPECT_FALSE(server::IconFileProblem({reinterpret_cast<const unsigned char*>(icon.data()), icon.size()}));
  }
  EXPECT_EQ(service.Stop(SIGTERM), 0);
}

TEST(ServiceEndToEnd, TheClientCertificateNamesTheCallerUnderTls) {
  TempDir dir;
  const std::string store = SmallStore(dir);
  const std::string data = CopyTestCertificates(dir);
  grpc::SslCredentialsOptions tls;
  tls.pem_root_certs = ReadFile(data + "/test-ca.pem");
  tls.pem_private_key = ReadFile(data + "/test-client-alice.key");
  tls.pem_cert_chain = ReadFile(data + "/test-client-alice.pem");
  for (const auto& [allowed, expected] : {std::pair{"alice", contract::kOk}, std::pair{"mallory", contract::kAccessDenied}}) {
    ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0", "--allow", allowed, "--tls-cert",
                            data + "/test-server.pem", "--tls-key", data + "/test-server.key", "--client-ca",
                            data + "/test-ca.pem"});
    const std::string address = service.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << service.Log();
    ServiceClient client(Connect(address, grpc::SslCredentials(tls)));
    // The certificate says alice; what the caller claims does not count.
    EXPECT_EQ(client.Activate({"mallory"}).hresult(), expected) << allowed;
    EXPECT_EQ(service.Stop(SIGTERM), 0);
  }
}

TEST(ServiceEndToEnd, AMillionRowsArriveWholeInBatches) {
  constexpr std::size_t kRows = 1'000'000;
  TempDir dir;
  const std::string store = dir.File("million.db");
  WriteManyTitles(store, kRows);
  ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0"});
  const std::string address = service.WaitUntilListening();
  ASSERT_FALSE(address.empty()) << service.Log();
  ServiceClient client(Connect(address));
  std::vector<bool> seen(kRows + 1, false);
  std::size_t oddTitles = 0;
  const Answer answer = client.Query(EncodeActivityRequest(3, 0, 0, 1, 0, 0), {}, [&](const quorvis::v1::Row& row) {
    const auto id = static_cast<std::size_t>(row.values(0).integer());
    if (id < seen.size()) seen[id] = true;
    oddTitles += row.values(1).bytes().ends_with(" \xFF") ? 1 : 0;
  });
  ASSERT_TRUE(answer.status.ok()) << answer.status.error_message();
  EXPECT_EQ(answer.hresult, contract::kOk);
  EXPECT_EQ(answer.rowCount, kRows);
  EXPECT_EQ(answer.batches, kRows / contract::kRowsPerBatch);
  EXPECT_EQ(oddTitles, kRows / 2) << "titles that are not UTF-8 arrive too";
  EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), static_cast<std::ptrdiff_t>(kRows - 1) + 1);
  EXPECT_EQ(service.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace qv::test
