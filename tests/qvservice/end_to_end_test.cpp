// The qvservice program: serving on loopback to the callers it allows, stopping on signals, bad starts, pruning at
// start, init, import and demo, the progress line on a terminal, and the log's plain lines under the journal.
#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/sqlite_db.h"
#include "qvservice/support/progress_line.h"
#include "records/csv_records.h"
#include "records/icon_file.h"
#include "records/log.h"
#include "tests/support/run_command.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>

namespace qv::test {

using server::EncodeActivityRequest;
using namespace std::string_literals;

const std::string kNotAStore = "this is not a database, just some text that is long enough to look like a header";

TEST(ServiceEndToEnd, ServesOnALoopbackPortStopsCleanlyOnSignalsAndEndsBadStartsWithAClearMessage) {
    TempDir dir;
    const std::string store = SmallStore(dir);
    for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"s}, {SIGINT, "SIGINT"s}}) {
        const auto service = Serve(store, {"--allow", "CORP\\alice,carol,j\xC3\xBCrgen", "--trust-claimed-names"});
        const std::string address = service->ListeningAddress();
        ServiceClient client(address);
        // A caller without a name is refused; names compare without case and need not be ASCII.
        for (const auto& [caller, hr] : {std::pair{"", contract::kAccessDenied},
                                         {"bob", contract::kAccessDenied},
                                         {"corp\\ALICE", contract::kOk},
                                         {"carol", contract::kOk},
                                         {"j\xC3\xBCrgen", contract::kOk}})
            EXPECT_EQ(client.Activate({caller}).hresult(), hr) << caller;
        // Each operation checks the caller again; an unknown class is reported before the caller is judged.
        const std::string request = EncodeActivityRequest(0, 0, 0, 0, 0, 0);
        const Answer refused = client.Query(request, {"bob"});
        EXPECT_TRUE(refused.hresult == contract::kAccessDenied && refused.rows.empty()) << refused.hresult;
        EXPECT_EQ(client.ProgramInfo(server::EncodeProgramInfoRequest(1), {"bob"}).hresult, contract::kAccessDenied);
        EXPECT_EQ(client.Query(request, {"carol"}).rows.size(), 2u);
        EXPECT_EQ(client.Activate({"bob", "{BAD}", ""}).hresult(), contract::kClassNotRegistered);

        // The port is taken: a second service must say so instead of sharing it.
        const ToolResult second = RunQvservice({"serve", "--store", store, "--listen", address});
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;

        EXPECT_EQ(service->Stop(signal), 0);
        const std::string& log = service->Log();
        for (const std::string& part :
             {"started, listening on " + address, "refused caller 'bob'"s, "stopping on " + name, "stopped"s})
            EXPECT_NE(log.find(part), std::string::npos) << part << ": " << log;
        EXPECT_EQ(log.find("refused caller 'carol'"), std::string::npos) << log;
        EXPECT_EQ(log.find("--insecure"), std::string::npos) << "loopback needs no --insecure: " << log;
    }

    const auto serve = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {"serve", "--store", store});
        return options;
    };
    std::vector<std::tuple<std::vector<std::string>, int, std::string>> starts{
        {{"serve", "--store", dir.File("none.db"), "--listen", "127.0.0.1:0"}, 1, "cannot open store"},
        {serve({"--listen", "127.0.0.1:99999"}), 1, "not a port number in 127.0.0.1:99999"},
        {serve({"--listen", "127.0.0.1:0", "--tls-cert", store}), 1, "TLS needs both --tls-cert and"},
        {serve({"--listen", "127.0.0.1:0", "--tls-cert", store, "--tls-key", dir.File("none.key")}), 1,
         "cannot read the TLS key"},
        {serve({"--listen", "0.0.0.0:0"}), 1, "serving 0.0.0.0:0 without client certificates"},
        {serve({"--listen", "127.0.0.1:0", "--allow", "anna"}), 1, "--allow without --client-ca"},
        {serve({"--listen", "0.0.0.0:0", "--allow", "alice"}), 1, "--allow without --client-ca"},
        {serve({"--allow", " , "}), 2, "--allow names nobody"},
        {serve({"--listen"}), 2, "--listen needs a value"},
        {serve({"--bogus", "1"}), 2, "unknown option --bogus"},
        {{"serve"}, 2, "--store is required"},
        {{"init"}, 2, "--store is required"},
        {{"init", "--store", store, "extra"}, 2, "unexpected argument extra"},
        {{"import", "--store", store}, 2, "import takes one RECORDS.csv"},
        {{"demo", "--store", dir.File("demo.db"), "--records", "many"}, 2, "--records takes a whole number"},
        {{"demo", "--store", store}, 1, store + " exists already"},
        {{"frobnicate"}, 2, "unknown command frobnicate"},
        {{}, 2, "no command"}};
    for (const auto& [option, aboveMost] :
         {std::pair{"--call-timeout", "604801"}, std::pair{"--max-calls-per-caller", "100001"},
          std::pair{"--db-connections", "10001"}}) {
        for (const char* bad : {"0", "-1", "1.5", "many", "9999999999", aboveMost})
            starts.push_back({serve({option, bad}), 2, option + " takes a whole number from 1 to "s});
    }
    for (const char* days : {"0", "-1", "x", "1.5"})
        starts.push_back({serve({"--keep-days", days}), 2, "--keep-days takes a whole number from 1"});
    for (const char* date : {"2024-02-30", "2024-6-13", "13.06.2024", "2024-06-13T00:00", ""})
        starts.push_back({{"prune", "--store", store, "--before", date}, 2, "--before takes a date as YYYY-MM-DD"});
    // As ssh does: a key others can read is refused before it is read.
    for (const mode_t mode : {0640, 0604}) {
        const std::string key = dir.File("open" + std::to_string(mode) + ".key");
        WriteFile(key, "key");
        ::chmod(key.c_str(), mode);
        starts.push_back({serve({"--listen", "127.0.0.1:0", "--tls-cert", store, "--tls-key", key}), 1,
                          "the TLS key " + key + " can be read by other users; make it the owner's alone (chmod 600"});
    }
    // An empty file is no store yet: serve says how to make one.
    const std::string empty = dir.File("empty.db");
    WriteFile(empty, "");
    starts.push_back(
        {{"serve", "--store", empty, "--listen", "127.0.0.1:0"}, 1, empty + " holds no Quorvis store; qvservice init"});
    // A file of another kind, or a store of a newer program, is refused by every command and left alone.
    const std::string text = dir.File("text.db"), newer = dir.File("newer.db");
    WriteFile(text, kNotAStore);
    ASSERT_EQ(RunQvservice({"init", "--store", newer}).exitCode, 0);
    server::SqliteDatabase(newer, server::Database::Mode::ReadWrite).SetSchemaVersion(server::kStoreVersion + 1);
    for (const auto& [file, says] :
         {std::pair{text, text + ": file is not a database"},
          {newer, newer + " holds a store of version " + std::to_string(server::kStoreVersion + 1) +
                      ", written by a newer qvservice"}}) {
        starts.push_back({{"init", "--store", file}, 1, says});
        starts.push_back({{"serve", "--store", file, "--listen", "127.0.0.1:0"}, 1, says});
    }
    for (const auto& [args, exitCode, says] : starts) {
        ServiceProcess run(args);  // bounded: one that serves instead of refusing is stopped
        EXPECT_EQ(run.WaitForExit(), exitCode) << says << ": " << run.Log();
        EXPECT_EQ(run.Log().rfind("qvservice: " + says, 0), 0u) << run.Log();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.db"))) << "serve makes no store";
    EXPECT_EQ(ReadFile(text), kNotAStore);
    EXPECT_EQ(server::SqliteDatabase(newer, server::Database::Mode::ReadOnly).SchemaVersion(),
              server::kStoreVersion + 1);

    // The store's records are of November 2023: serve prunes them as it starts.
    const auto pruning = Serve(store, {"--keep-days", "30"});
    EXPECT_TRUE(pruning->WaitForLog("removed 2 records, 2 users, 2 computers, 2 programs, 2 window titles"))
        << pruning->Log();
    EXPECT_EQ(pruning->Stop(SIGTERM), 0);
}

// Runs the command on a pseudo-terminal, as an operator's shell would.
static CommandResult RunOnTerminal(const std::string& command) {
    return RunCommand("script -q -e -c '" + command + "' /dev/null");
}

// Run without a terminal, as a unit or a script runs them, import shows no progress line; on one it does, as demo does.
TEST(ServiceEndToEnd, ImportAndDemoShowProgressOnATerminalOnlyAndFillStoresTheServiceAnswersFrom) {
    EXPECT_EQ(server::FormatProgress(1234, 0.5, 2.0), "1234 records,  50%, 617 records/s");
    EXPECT_EQ(server::FormatProgress(10, 1.7, 1.0), "10 records, 100%, 10 records/s");
    EXPECT_EQ(server::FormatProgress(10, 0.999, 1.0), "10 records,  99%, 10 records/s");  // never 100 before the end
    TempDir dir;
    const std::string csv = dir.File("records.csv"), program = QVSERVICE_PATH;
    WriteFile(csv, std::string(kCsvHeader) +
                       "\nanna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,1000,1,1\n"
                       "ben,WS-02,app.exe,App,Main,2024-03-25T11:00:00Z,1000,1,1\n");
    const ToolResult first = RunQvservice({"import", "--store", dir.File("imported.db"), csv});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err, "");
    const CommandResult imported = RunOnTerminal(program + " import --store " + dir.File("a.db") + " " + csv);
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_NE(imported.output.find("\r2 records, 100%"), std::string::npos) << imported.output;
    EXPECT_NE(imported.output.find("imported 2 records"), std::string::npos) << imported.output;

    const std::string demo = dir.File("demo.db");
    const CommandResult made = RunOnTerminal(program + " demo --store " + demo + " --records 20000");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    EXPECT_NE(made.output.find(" records, 100%, "), std::string::npos) << made.output;
    EXPECT_NE(made.output.find("wrote "), std::string::npos) << made.output;

    const auto service = Serve(demo);
    ServiceClient client(service->ListeningAddress());
    EXPECT_EQ(client.Query(EncodeActivityRequest(0, 0, 0, 0, 0, 0)).rows.size(), 25u);
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

TEST(ServiceLog, KnowsTheJournalStreamOnlyByItsDeviceAndInodeAndWritesItBareLines) {
    TempDir dir;
    const int journal = ::open(dir.File("journal").c_str(), O_CREAT | O_WRONLY, 0600);
    const int other = ::open(dir.File("other").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_TRUE(journal >= 0 && other >= 0);
    struct stat status {};
    ASSERT_EQ(::fstat(journal, &status), 0);
    const std::string name = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);

    EXPECT_TRUE(IsJournalStream(name.c_str(), journal));
    EXPECT_FALSE(IsJournalStream(name.c_str(), other));  // a redirected child inherits the variable
    EXPECT_FALSE(IsJournalStream(nullptr, journal));
    for (const std::string& bad : {""s, std::to_string(status.st_dev), name + "x", ":"s})
        EXPECT_FALSE(IsJournalStream(bad.c_str(), journal)) << bad;
    ::close(journal);
    ::close(other);

    EXPECT_EQ(FormatLogLine("started", true, "qvservice"), "started\n");
    const std::string stamped = FormatLogLine("started", false, "qvservice");
    EXPECT_EQ(stamped.size(), std::string("2026-12-06 20:10:00 qvservice: started\n").size()) << stamped;
    EXPECT_TRUE(stamped.ends_with(" qvservice: started\n")) << stamped;
}

}  // namespace qv::test
