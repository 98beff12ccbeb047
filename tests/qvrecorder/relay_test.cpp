// The daemon, fed by `qvrecorder send` and asked with `qvrecorder status`, against a fake recording service.
#include "qvrecorder/local_client.h"
#include "records/csv_records.h"
#include "tests/support/background_process.h"
#include "tests/support/fake_recorder_service.h"
#include "tests/support/random_records.h"
#include "tests/support/recorder_daemon.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace qv::test {
namespace {

using testing::HasSubstr;

const std::string kHeader = std::string(kCsvHeader) + "\n";

std::string Line(const std::string& user, const std::string& computer, const std::string& process) {
    return user + "," + computer + "," + process + ",,Title,2024-03-01T10:00:00Z,1000,3,4\n";
}

// The smallest file the icon check passes: a header, one directory entry and four bytes of image.
std::string TinyIcon(char mark) {
    std::string icon{0, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0, 22, 0, 0, 0};
    return icon + std::string(4, mark);
}

quorvis::relay::v1::SendRequest Records(const std::vector<std::string>& processes,
                                        const std::vector<std::pair<std::string, std::string>>& icons = {}) {
    quorvis::relay::v1::SendRequest request;
    for (const std::string& process : processes) request.add_records()->set_process(process);
    for (const auto& [process, bytes] : icons) {
        auto& icon = *request.add_icons();
        icon.set_process(process);
        icon.set_icon(bytes);
    }
    return request;
}

class Relay : public testing::Test {
protected:
    Relay() : certs_(CopyTestCertificates(dir_)), fake_(certs_) { WriteFile(dir_.File("empty.conf"), ""); }

    std::vector<std::string> DaemonCommand(const std::vector<std::string>& extra = {}, const char* spool = "spool",
                                           const std::string& key = "test-recorder-WS-01.key") {
        auto command =
            RecorderDaemonCommand(fake_.Address(), certs_, Socket(), dir_.File(spool), dir_.File("empty.conf"), key);
        command.insert(command.end(), extra.begin(), extra.end());
        return command;
    }
    std::unique_ptr<BackgroundProcess> StartDaemon(const std::vector<std::string>& extra = {}) {
        auto daemon = std::make_unique<BackgroundProcess>(DaemonCommand(extra));
        EXPECT_TRUE(daemon->WaitForLog("listening on ")) << daemon->Log();
        return daemon;
    }
    std::string Socket() const { return dir_.File("socket"); }
    ToolResult Send(const std::string& csv, std::vector<std::string> command = {}) {
        WriteFile(dir_.File("input.csv"), csv);
        command.insert(command.end(), {QVRECORDER_PATH, "send", "--socket", Socket()});
        return RunWithInput(command, dir_.File("input.csv"));
    }
    bool StatusSays(const std::string& line) { return RecorderStatusSays(Socket(), line); }

    TempDir dir_;
    std::string certs_;
    FakeRecorderService fake_;
};

TEST_F(Relay, KeepsRecordsWhileTheServiceIsAwayAndSetsABadBatchAsideForwardingTheRecordsBehindIt) {
    fake_.Change([](auto& script) { script.answer = grpc::StatusCode::UNAVAILABLE; });
    fake_.Change([](auto& script) { script.refusedProcess = "poison.exe"; });
    const auto daemon = StartDaemon();
    std::string csv = kHeader;
    for (int i = 0; i < 10; ++i) csv += Line("anna", "WS-01", "p" + std::to_string(i) + ".exe");
    EXPECT_EQ(Send(csv).out, "10 records taken\n");
    ASSERT_TRUE(fake_.WaitFor([](const auto& batches) { return batches.size() >= 3; })) << daemon->Log();
    const std::string status = RunProgram({QVRECORDER_PATH, "status", "--socket", Socket()}).out;
    for (const char* line : {"\nwaiting 10\n", "\nconnected no\n", "UNAVAILABLE: the fake service answers so"})
        EXPECT_THAT(status, HasSubstr(line));

    fake_.Change([](auto& script) { script.answer = grpc::StatusCode::OK; });
    ASSERT_TRUE(StatusSays("waiting 0")) << daemon->Log();
    EXPECT_EQ(fake_.Stored().size(), 10u);
    for (const ReceivedBatch& batch : fake_.Batches()) EXPECT_EQ(batch.firstSequence, 1u);
    ASSERT_TRUE(daemon->WaitForLog(" takes records")) << daemon->Log();
    const std::string log = daemon->Log();
    const std::size_t lost = log.find(" takes no records (UNAVAILABLE");
    EXPECT_LT(lost, log.find(" takes records")) << log;
    EXPECT_EQ(log.find(" takes no records", lost + 1), std::string::npos) << "once, not per retry:\n" << log;

    EXPECT_EQ(Send(kHeader + Line("anna", "WS-01", "poison.exe") + Line("anna", "WS-01", "a.exe")).out,
              "2 records taken\n");
    ASSERT_TRUE(StatusSays("set aside 1 batches (2 records)")) << daemon->Log();
    EXPECT_EQ(Send(kHeader + Line("ben", "WS-01", "b.exe")).out, "1 records taken\n");
    ASSERT_TRUE(StatusSays("waiting 0")) << daemon->Log();
    EXPECT_EQ(fake_.Batches().back().firstSequence, 13u);
    EXPECT_EQ(fake_.Stored().at(10).user(), "ben");
    EXPECT_TRUE(daemon->WaitForLog("refused the records 11 to 12 as bad; set them aside")) << daemon->Log();
}

TEST_F(Relay, ResendsTheBatchInFlightUnderTheSameNumbersAfterAKill) {
    fake_.Change([](auto& script) { script.held = true; });
    auto daemon = StartDaemon();
    EXPECT_EQ(Send(kHeader + Line("anna", "WS-01", "a.exe") + Line("anna", "WS-01", "b.exe")).exitCode, 0);
    ASSERT_TRUE(fake_.WaitFor([](const auto& batches) { return batches.size() == 1; })) << daemon->Log();
    EXPECT_EQ(daemon->Stop(SIGKILL), 128 + SIGKILL);
    fake_.Change([](auto& script) { script.held = false; });

    daemon = StartDaemon();
    EXPECT_NE(daemon->Log().find("replaced the stale socket"), std::string::npos) << daemon->Log();
    ASSERT_TRUE(fake_.WaitFor([](const auto& batches) { return batches.size() == 2; })) << daemon->Log();
    EXPECT_EQ(Send(kHeader + Line("anna", "WS-01", "c.exe")).exitCode, 0);
    ASSERT_TRUE(fake_.WaitFor([](const auto& batches) { return batches.size() == 3; })) << daemon->Log();
    const auto batches = fake_.Batches();
    EXPECT_EQ(batches[1].recorderId, batches[0].recorderId);
    EXPECT_EQ(batches[1].firstSequence, 1u);
    ASSERT_EQ(batches[1].records.size(), 2u);
    EXPECT_EQ(batches[1].records[1].SerializeAsString(), batches[0].records[1].SerializeAsString());
    EXPECT_EQ(batches[2].firstSequence, 3u);
}

TEST_F(Relay, RefusesWhatItCannotTakeThenForwardsRecordsInOrderEachOnceUnderTheCertificatesNameAndStopsCleanly) {
    const auto daemon = StartDaemon();
    const std::string good = Line("anna", "WS-01", "a.exe");
    const std::vector<std::pair<std::string, std::string>> cases{
        {kHeader + good + Line("anna", "WS-02", "a.exe"),
         "line 3: the record is for the computer 'WS-02', but this is WS-01"},
        {kHeader + good + "anna,WS-01,a.exe,,T,2024-03-01T10:00:00Z,-5,3,4\n", "line 3: duration_ms must lie between"},
        {"user,computer\n", "line 1: the header must be exactly"}};
    for (const auto& [csv, reason] : cases) {
        const ToolResult sent = Send(csv);
        EXPECT_EQ(sent.exitCode, 1) << reason;
        EXPECT_NE(sent.err.find(reason), std::string::npos) << sent.err;
        EXPECT_EQ(sent.out, "0 records taken\n");
    }

    BackgroundProcess second(DaemonCommand({}, "spool2"));
    EXPECT_EQ(second.WaitForExit(), 1);
    EXPECT_NE(second.Log().find("another qvrecorder daemon answers on " + Socket()), std::string::npos) << second.Log();
    const std::string exposed = certs_ + "/exposed.key";
    std::filesystem::copy_file(certs_ + "/test-recorder-WS-01.key", exposed);
    chmod(exposed.c_str(), 0644);
    BackgroundProcess readable(DaemonCommand({}, "spool3", "exposed.key"));
    EXPECT_EQ(readable.WaitForExit(), 1);
    EXPECT_THAT(readable.Log(), HasSubstr("the TLS key " + exposed +
                                          " can be read by other users; make it the owner's alone (chmod 600"));
    EXPECT_TRUE(fake_.Batches().empty());

    std::mt19937_64 random(7);
    std::vector<ActivityRecord> records = RandomRecords(random, 2500, 1'700'000'000'000, 1'710'000'000'000);
    for (ActivityRecord& record : records) record.computer = "ws-01";
    const ToolResult sent = Send(RecordsCsv(records));
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_TRUE(StatusSays("waiting 0")) << daemon->Log();
    const std::vector<ReceivedBatch> batches = fake_.Batches();
    std::uint64_t next = 1;
    for (const ReceivedBatch& batch : batches) {
        EXPECT_EQ(batch.recorderId, batches.front().recorderId);
        EXPECT_EQ(batch.firstSequence, next);
        EXPECT_LE(batch.records.size(), 1000u);
        next += batch.records.size();
    }
    for (const auto& record : fake_.Stored()) EXPECT_EQ(record.computer(), "WS-01");
    EXPECT_EQ(fake_.Stored().size(), records.size());
    EXPECT_TRUE(StatusSays("connected yes"));
    EXPECT_EQ(daemon->Stop(SIGTERM), 0);
    EXPECT_NE(daemon->Log().find("stopped"), std::string::npos) << daemon->Log();
}

TEST_F(Relay, KnowsWhoSendsAndRefusesRecordsOfAnotherUser) {
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "sending as another needs root (setpriv) and nobody";
    chmod(dir_.Path().c_str(), 0711);  // nobody reaches the socket
    const std::vector<std::string> asNobody{"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                            "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
    const auto daemon = StartDaemon({"--user-prefix", "CORP\\"});
    const ToolResult other = Send(kHeader + Line("", "", "a.exe") + Line("anna", "WS-01", "a.exe"), asNobody);
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_THAT(other.err,
                HasSubstr("line 3: the record names the user 'anna'; nobody may send only records of its own"));
    const ToolResult own =
        Send(kHeader + Line("", "", "a.exe") + Line("nobody", "WS-01", "b.exe") + Line("CORP\\nobody", "", "c.exe"),
             asNobody);
    EXPECT_EQ(own.out, "3 records taken\n") << own.err;
    EXPECT_EQ(Send(kHeader + Line("ben", "WS-01", "d.exe")).out, "1 records taken\n") << "root sends for anyone";
    ASSERT_TRUE(StatusSays("waiting 0")) << daemon->Log();
    std::vector<std::string> users;
    for (const auto& record : fake_.Stored()) users.push_back(record.user());
    EXPECT_EQ(users, (std::vector<std::string>{"CORP\\nobody", "CORP\\nobody", "CORP\\nobody", "ben"}));
}

TEST_F(Relay, PassesAnIconOnUntilTheServiceHasItAndNeverLetsItCostARecord) {
    const auto daemon = StartDaemon();
    recorder::LocalClient client(Socket());
    const auto iconsOf = [](const ReceivedBatch& batch) {
        std::vector<std::string> found;
        for (const auto& icon : batch.icons) found.push_back(icon.process() + "=" + icon.icon().substr(22));
        return found;
    };
    const auto sendAndWait = [&](const quorvis::relay::v1::SendRequest& request, std::size_t batches) {
        const auto reply = client.Send(request);
        EXPECT_EQ(reply.taken(), static_cast<unsigned>(request.records_size())) << reply.refusal();
        return fake_.WaitFor([&](const auto& received) { return received.size() >= batches; });
    };

    // A bad icon is refused with the service's words, and its records with it.
    const auto bad = client.Send(Records({"a.exe"}, {{"b.exe", TinyIcon('b')}, {"a.exe", "not an icon"}}));
    EXPECT_EQ(bad.taken(), 0u);
    EXPECT_EQ(bad.refused_index(), -1);
    EXPECT_EQ(bad.refusal(), "the icon of a.exe: not an icon file (wrong header)");

    // The first batch naming a program brings its icon; later ones do not, though the session sends it again.
    ASSERT_TRUE(sendAndWait(Records({"a.exe", "c.exe"}, {{"a.exe", TinyIcon('1')}, {"z.exe", TinyIcon('z')}}), 1))
        << daemon->Log();
    ASSERT_TRUE(sendAndWait(Records({"a.exe"}, {{"a.exe", TinyIcon('2')}}), 2)) << daemon->Log();
    // The service lost it: it goes again, alone when no record waits, then no more.
    fake_.Change([](auto& script) { script.lackingIcon.insert("a.exe"); });
    ASSERT_TRUE(sendAndWait(Records({"a.exe"}), 4)) << daemon->Log();
    ASSERT_TRUE(sendAndWait(Records({"a.exe"}), 5)) << daemon->Log();
    // A service that refuses a batch for its icons still gets the records, in a second call.
    fake_.Change([](auto& script) { script.refuseIcons = true; });
    ASSERT_TRUE(sendAndWait(Records({"d.exe"}, {{"d.exe", TinyIcon('d')}}), 7)) << daemon->Log();
    ASSERT_TRUE(StatusSays("waiting 0")) << daemon->Log();

    const auto batches = fake_.Batches();
    ASSERT_EQ(batches.size(), 7u) << daemon->Log();
    const std::vector<std::vector<std::string>> icons{{"a.exe=1111"}, {}, {}, {"a.exe=2222"}, {}, {"d.exe=dddd"}, {}};
    for (std::size_t i = 0; i < batches.size(); ++i) EXPECT_EQ(iconsOf(batches[i]), icons[i]) << "batch " << i;
    EXPECT_TRUE(batches[3].records.empty());
    EXPECT_EQ(batches[5].answer, grpc::StatusCode::INVALID_ARGUMENT);
    EXPECT_EQ(fake_.Stored().size(), 6u);
    EXPECT_TRUE(daemon->WaitForLog("the service refused the icons of d.exe; they are dropped")) << daemon->Log();
}

}  // namespace
}  // namespace qv::test
