// The qvservice program: serving on loopback, stopping on signals, bad starts, and its init, import and demo commands.
#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/sqlite_db.h"
#include "records/icon_file.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace qv::test {

using server::EncodeActivityRequest;
using namespace std::string_literals;

TEST(ServiceEndToEnd, ServesOnALoopbackPortStopsCleanlyOnSignalsAndEndsBadStartsWithAClearMessage) {
    TempDir dir;
    const std::string store = SmallStore(dir);
    for (const int signal : {SIGTERM, SIGINT}) {
        const std::string name = signal == SIGTERM ? "SIGTERM" : "SIGINT";
        const auto service = Serve(store, {"--allow", "alice", "--trust-claimed-names"});
        const std::string address = service->ListeningAddress();
        ServiceClient client(address);
        EXPECT_EQ(client.Activate({"bob"}).hresult(), contract::kAccessDenied);
        EXPECT_EQ(client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0), {"alice"}).rows.size(), 2u);

        // The port is taken: a second service must say so instead of sharing it.
        const ToolResult second = RunQvservice({"serve", "--store", store, "--listen", address});
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;

        EXPECT_EQ(service->Stop(signal), 0);
        const std::string& log = service->Log();
        for (const std::string& part :
             {"started, listening on " + address, "refused caller 'bob'"s, "stopping on " + name, "stopped"s}) {
            EXPECT_NE(log.find(part), std::string::npos) << part << ": " << log;
        }
        EXPECT_EQ(log.find("refused caller 'alice'"), std::string::npos) << log;
        EXPECT_EQ(log.find("--insecure"), std::string::npos) << "loopback needs no --insecure: " << log;
    }

    std::vector<std::tuple<std::vector<std::string>, int, std::string>> starts{
        {{"serve", "--store", dir.File("none.db"), "--listen", "127.0.0.1:0"}, 1, "cannot open store"},
        {{"serve", "--store", store, "--listen", "127.0.0.1:99999"}, 1, "not a port number in 127.0.0.1:99999"},
        {{"serve", "--store", store, "--listen", "127.0.0.1:0", "--tls-cert", store},
         1,
         "TLS needs both --tls-cert and"},
        {{"serve", "--store", store, "--listen", "127.0.0.1:0", "--tls-cert", store, "--tls-key", dir.File("none.key")},
         1,
         "cannot read the TLS key"},
        {{"serve", "--store", store, "--listen", "0.0.0.0:0"}, 1, "serving 0.0.0.0:0 without client certificates"},
        {{"serve", "--store", store, "--listen", "127.0.0.1:0", "--allow", "anna"}, 1, "--allow without --client-ca"},
        {{"serve", "--store", store, "--listen", "0.0.0.0:0", "--allow", "alice"}, 1, "--allow without --client-ca"},
        {{"serve", "--store", store, "--allow", " , "}, 2, "--allow names nobody"},
        {{"serve", "--store", store, "--listen"}, 2, "--listen needs a value"},
        {{"serve", "--store", store, "--bogus", "1"}, 2, "unknown option --bogus"},
        {{"serve"}, 2, "--store is required"},
        {{"init"}, 2, "--store is required"},
        {{"init", "--store", store, "extra"}, 2, "unexpected argument extra"},
        {{"import", "--store", store}, 2, "import takes one RECORDS.csv"},
        {{"demo", "--store", dir.File("demo.db"), "--records", "many"}, 2, "--records takes a whole number"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{}, 2, "no command"}};
    for (const auto& [option, aboveMost] :
         {std::pair{"--call-timeout", "604801"}, std::pair{"--max-calls-per-caller", "100001"},
          std::pair{"--db-connections", "10001"}}) {
        for (const char* bad : {"0", "-1", "1.5", "many", "9999999999", aboveMost}) {
            starts.push_back(
                {{"serve", "--store", store, option, bad}, 2, option + " takes a whole number from 1 to "s});
        }
    }
    for (const auto& [args, exitCode, says] : starts) {
        ServiceProcess run(args);  // bounded: one that serves instead of refusing is stopped
        EXPECT_EQ(run.WaitForExit(), exitCode) << says << ": " << run.Log();
        EXPECT_EQ(run.Log().rfind("qvservice: " + says, 0), 0u) << run.Log();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.db"))) << "serve makes no store";
}

// Run without a terminal, as a unit or a script runs them: no progress line.
TEST(ServiceEndToEnd, ImportAndDemoCommandsFillStoresTheServiceAnswersFrom) {
    TempDir dir;
    const std::string csv = dir.File("records.csv");
    std::ofstream(csv)
        << "user,computer,process,description,window_title,start,duration_ms,keyboard_events,mouse_events\n"
           "anna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,1000,1,1\n";
    const std::string store = dir.File("imported.db");
    const ToolResult first = RunQvservice({"import", "--store", store, csv});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err, "");
    const ToolResult again = RunQvservice({"import", "--store", store, csv});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("imported before"), std::string::npos) << again.err;

    const std::string demo = dir.File("demo.db");
    const ToolResult made = RunQvservice({"demo", "--store", demo, "--records", "20000"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(made.err, "");
    EXPECT_NE(made.out.find("wrote "), std::string::npos) << made.out;
    const ToolResult twice = RunQvservice({"demo", "--store", demo});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.err.find("exists already"), std::string::npos);

    const auto service = Serve(demo);
    const std::string address = service->ListeningAddress();
    ServiceClient client(address);
    const Answer users = client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0));
    EXPECT_EQ(users.rows.size(), 25u);
    const Answer programs = client.Query(EncodeActivityRequest(2, 0, 0, 0, 0, 0));
    EXPECT_GT(programs.rows.size(), 30u);
    for (const auto& row : programs.rows) {
        const auto id = static_cast<std::uint32_t>(Cell(programs, row, "ID").integer());
        const Answer info = client.ProgramInfo(server::EncodeProgramInfoRequest(id));
        ASSERT_EQ(info.rows.size(), 1u);
        const std::string icon = Cell(info, info.rows[0], "Icon").bytes();
        EXPECT_FALSE(IconFileProblem({reinterpret_cast<const unsigned char*>(icon.data()), icon.size()}));
    }
    EXPECT_EQ(service->Stop(SIGTERM), 0);
}

// qvservice init, which the packaged unit runs before serve: a fresh store, never a change to a filled one.
TEST(InitCommand, MakesAStoreServeOpensAndLeavesAFilledOneAlone) {
    TempDir dir;
    const std::string fresh = dir.File("fresh.db");
    const ToolResult made = RunQvservice({"init", "--store", fresh});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(made.out, "");
    const auto service = Serve(fresh);
    EXPECT_NE(service->WaitUntilListening(), "") << service->Log();
    EXPECT_EQ(service->Stop(SIGTERM), 0) << service->Log();

    const std::string filled = SmallStore(dir), before = ReadFile(filled);
    ASSERT_EQ(RunQvservice({"init", "--store", filled}).exitCode, 0);
    EXPECT_EQ(ReadFile(filled), before);

    const std::string text = dir.File("text.db");
    const std::string words = "this is not a database, just some text that is long enough to look like a header";
    std::ofstream(text) << words;
    // A file of another kind, or a store of a newer program, is refused by every command and left alone.
    server::SqliteDatabase(fresh, server::Database::Mode::ReadWrite).SetSchemaVersion(server::kStoreVersion + 1);
    // A serve that wrongly started would listen on loopback only.
    for (const auto& command : {std::vector<std::string>{"init"}, {"serve", "--listen", "127.0.0.1:0"}}) {
        for (const auto& [store, says] :
             {std::pair{text, text + ": file is not a database"},
              std::pair{fresh, "holds a store of version " + std::to_string(server::kStoreVersion + 1) +
                                   ", written by a newer qvservice"}}) {
            std::vector<std::string> args = command;
            args.insert(args.end(), {"--store", store});
            const ToolResult refused = RunQvservice(args);
            EXPECT_EQ(refused.exitCode, 1) << command[0];
            EXPECT_NE(refused.err.find(says), std::string::npos) << command[0] << ": " << refused.err;
        }
    }
    EXPECT_EQ(ReadFile(text), words);
    EXPECT_EQ(server::SqliteDatabase(fresh, server::Database::Mode::ReadOnly).SchemaVersion(),
              server::kStoreVersion + 1);

    // An empty file is no store yet: serve says how to make one.
    const std::string empty = dir.File("empty.db");
    std::ofstream(empty).flush();
    const ToolResult unfilled = RunQvservice({"serve", "--store", empty, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(unfilled.exitCode, 1);
    EXPECT_NE(unfilled.err.find("holds no Quorvis store; qvservice init"), std::string::npos) << unfilled.err;
}

}  // namespace qv::test
