// The qvservice program itself: serving on a free loopback port, stopping on
// signals, refusing callers, its commands, and a result set
// of a million rows.
#include "qvservice/model/icon_file.h"
#include "qvservice/query/query_request.h"
#include "tests/support/service_process.h"
#include "qvservice/model/store_schema.h"
#include "tests/support/test_support.h"

#include <grpcpp/create_channel.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

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

std::shared_ptr<grpc::Channel> Connect(const std::string& address) {
  auto channel = grpc::CreateChannel(address, grpc::InsecureChannelCredentials());
  EXPECT_TRUE(channel->WaitForConnected(std::chrono::system_clock::now() + kConnectLimit)) << address;
  return channel;
}

TEST(ServiceEndToEnd, ServesOnALoopbackPortAndStopsCleanlyOnSignals) {
  TempDir dir;
  const std::string store = SmallStore(dir);
  for (const int signal : {SIGTERM, SIGINT}) {
    const std::string name = signal == SIGTERM ? "SIGTERM" : "SIGINT";
    ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0", "--allow", "alice", "--trust-claimed-names"});
    const std::string address = service.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << service.Log();
    ServiceClient client(Connect(address));
    EXPECT_EQ(client.Activate({"bob"}).hresult(), contract::kAccessDenied);
    EXPECT_EQ(client.Activate({"alice"}).hresult(), contract::kOk);
    EXPECT_EQ(client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0), {"alice"}).rows.size(), 2u);

    // The port is taken: a second service must say so instead of sharing it.
    const ToolResult second = RunQvservice({"serve", "--store", store, "--listen", address});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;

    EXPECT_EQ(service.Stop(signal), 0);
    const std::string& log = service.Log();
    EXPECT_NE(log.find("started, listening on " + address), std::string::npos) << log;
    EXPECT_NE(log.find("refused caller 'bob'"), std::string::npos) << log;
    EXPECT_EQ(log.find("refused caller 'alice'"), std::string::npos) << log;
    EXPECT_NE(log.find("stopping on " + name), std::string::npos) << log;
    EXPECT_NE(log.find("stopped"), std::string::npos) << log;
  }
}

TEST(ServiceEndToEnd, BadStartsEndWithAClearMessage) {
  TempDir dir;
  const std::string notAStore = dir.File("text.db");
  std::ofstream(notAStore) << "this is not a database, just some text that is long enough to look like a header";
  const std::string store = SmallStore(dir);
  const std::vector<std::tuple<std::vector<std::string>, int, std::string>> starts{
      {{"serve", "--store", dir.File("none.db"), "--listen", "127.0.0.1:0"}, 1, "cannot open store"},
      {{"serve", "--store", notAStore, "--listen", "127.0.0.1:0"}, 1, "qvservice: "},
      {{"serve", "--store", store, "--listen", "127.0.0.1:99999"}, 1, "qvservice: "},
      {{"serve", "--store", store, "--tls-cert", dir.File("none.pem")}, 1, "qvservice: "},
      {{"serve"}, 2, "qvservice: "},
      {{"serve", "--store", store, "--bogus", "1"}, 2, "qvservice: "},
      {{"frobnicate"}, 2, "qvservice: "},
      {{}, 2, "qvservice: "}};
  for (const auto& [args, exitCode, says] : starts) {
    const ToolResult run = RunQvservice(args);
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
  }
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
