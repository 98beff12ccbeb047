// `qvrecorder send` through a real daemon to a real qvservice: the reports of an import of the same records, and
// nothing lost or counted twice while the daemon or the service is killed and restarted.
#include "records/csv_records.h"
#include "tests/support/background_process.h"
#include "tests/support/random_records.h"
#include "tests/support/recorder_daemon.h"
#include "tests/support/service_process.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace qv::test {
namespace {

// Records of WS-01, the daemon's certificate's computer; a sender other than root may send only its own.
std::vector<ActivityRecord> ComputerRecords(std::uint64_t seed, std::size_t count) {
    std::mt19937_64 random(seed);
    std::vector<ActivityRecord> records = RandomRecords(random, count, 1'700'000'000'000, 1'710'000'000'000);
    for (ActivityRecord& record : records) {
        record.computer = "WS-01";
        if (::geteuid() != 0) record.user = ::getpwuid(::geteuid())->pw_name;
    }
    return records;
}

// qvreport's CSV and HTML of an item over all time.
std::string Report(const std::string& address, const std::vector<std::string>& tls, const std::string& tree,
                   const std::string& path) {
    const TempDir out;
    std::vector<std::string> command{
        QVREPORT_PATH,     "--server", address,          "--tree",           tree,   "--path",           path,
        "--period",        "custom",   "--from",         "2000-01-01 00:00", "--to", "2100-01-01 00:00", "--csv",
        out.File("r.csv"), "--html",   out.File("r.htm")};
    command.insert(command.end(), tls.begin(), tls.end());
    const ToolResult run = RunProgram(command);
    EXPECT_EQ(run.exitCode, 0) << path << ": " << run.err;
    return ReadFile(out.File("r.csv")) + ReadFile(out.File("r.htm"));
}

class LiveRecording : public EachStoreEngine {};

TEST_P(LiveRecording, GivesTheReportsOfAnImportOfTheSameRecordsAndKillsLoseNothingAndCountNothingTwice) {
    const TempDir dir;
    RecordingChain live(Postgres() ? NewStore(dir) : "");
    const auto send = [&](const std::vector<ActivityRecord>& records) {
        WriteFile(dir.File("input.csv"), RecordsCsv(records));
        return RunWithInput({QVRECORDER_PATH, "send", "--socket", live.socket}, dir.File("input.csv"));
    };
    const auto records = ComputerRecords(11, 3000);
    const ToolResult sent = send(records);
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_NE(sent.out.find("3000 records taken"), std::string::npos) << sent.out;
    ASSERT_TRUE(RecorderStatusSays(live.socket, "waiting 0")) << live.daemon->Log();

    const std::string imported = NewStore(dir);
    WriteFile(dir.File("records.csv"), RecordsCsv(records));
    ASSERT_EQ(RunQvservice({"import", "--store", imported, dir.File("records.csv")}).exitCode, 0);
    const auto reference = Serve(imported);
    const std::string referenceAddress = reference->ListeningAddress();
    const std::vector<std::string> tls{"--tls-ca", live.certs + "/test-ca.pem"};
    std::set<std::pair<std::string, std::string>> items{{"computers", "WS-01"}};
    for (const auto& record : records)
        if (record.user.find_first_of("/\"\\,") == std::string::npos && items.size() < 6)
            items.emplace("users", record.user);
    for (const auto& [tree, path] : items)
        EXPECT_EQ(Report(live.Address(), tls, tree, path), Report(referenceAddress, {}, tree, path))
            << tree << " " << path;

    std::int64_t expectedMs = 0;
    for (const auto& record : records) expectedMs += record.durationMs;
    std::mt19937_64 random(5);
    constexpr int kRounds = 20;  // of each
    for (int round = 0; round < 2 * kRounds; ++round) {
        const bool killDaemon = round < kRounds;
        const auto more = ComputerRecords(100 + round, 500);
        for (const auto& record : more) expectedMs += record.durationMs;
        // Killed and restarted while send runs: send and the daemon each resend what was not acknowledged.
        std::thread killer([&, pause = random() % 300] {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            if (killDaemon) {
                live.daemon->Stop(SIGKILL);
                live.StartDaemon();
            } else {
                live.service->Stop(SIGKILL);
                live.StartService();
            }
        });
        ToolResult moreSent = send(more);
        killer.join();
        // Killed before send connected: nothing was taken, and a sender tries again.
        if (moreSent.exitCode != 0 && moreSent.out == "0 records taken\n") moreSent = send(more);
        ASSERT_EQ(moreSent.exitCode, 0) << "round " << round << ": " << moreSent.err;
    }
    ASSERT_TRUE(RecorderStatusSays(live.socket, "waiting 0")) << live.daemon->Log();
    ServiceClient client = TlsClient(live.Address(), live.certs);
    EXPECT_EQ(TotalTimeSpent(client), expectedMs);
}

QV_ON_EACH_STORE_ENGINE(LiveRecording);

}  // namespace
}  // namespace qv::test
