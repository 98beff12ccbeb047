// The service's contract over gRPC: activation, request checks and batches; a call's limits and the connection it
// holds; who may query or record with which certificate, each record once, and an older store's upgrade.
#include "platform/remote_activation.h"
#include "qvservice/command_line.h"
#include "qvservice/import/batch_ingest.h"
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"
#include "qvservice/rpc/call_watchdog.h"
#include "qvservice/rpc/connection_pool.h"
#include "qvservice/rpc/recorder_identity.h"
#include "tests/support/recording_client.h"
#include "tests/support/service_process.h"
#include "tests/support/store_engines.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <future>
#include <limits>
#include <thread>

namespace qv::test {
using server::EncodeActivityRequest;
using server::EncodeProgramInfoRequest;
namespace pb = quorvis::v1;
using testing::HasSubstr;

TEST(ServiceContract, ActivationAndMalformedRequestsFailWithTheirHresultAndProgramInformationCarriesNames) {
    TempDir dir;
    const std::string store = SmallStore(dir);
    const std::string before = ReadFile(store);
    LocalService service(StoreOptions(store));
    ServiceClient client = service.Client();
    grpc::Status status;

    // Ids compare without regard to case; every object answers for IUnknown; failures travel inside an OK status.
    const std::string classId(contract::kClassId), unknownId(contract::kUnknownInterfaceId);
    for (const auto& [identity, hr] :
         {std::pair{CallIdentity{}, contract::kOk},
          {{"", "{023a7a55-6bb3-455a-a486-c78cd53165a8}", "{51cd9372-ccae-4194-aa67-c66cbb40b436}"}, contract::kOk},
          {{"", classId, unknownId}, contract::kOk},
          {{"", "{00000000-1111-2222-3333-444444444444}", ""}, contract::kClassNotRegistered},
          {{"", classId, "{11111111-2222-3333-4444-555555555555}"}, contract::kNoInterface}}) {
        const auto reply = client.Activate(identity, &status);
        EXPECT_TRUE(status.ok()) << status.error_message();
        EXPECT_EQ(reply.hresult(), hr) << identity.classId;
        EXPECT_EQ(reply.description().empty(), hr == contract::kOk) << reply.description();
    }

    // The operations check the ids again and offer only IQVQuery.
    const std::string request = EncodeActivityRequest(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(client.Query(request, {"", "{BAD}"}).hresult, contract::kClassNotRegistered);
    const Answer viaUnknown = client.Query(request, {"", classId, unknownId});
    EXPECT_EQ(viaUnknown.hresult, contract::kNoInterface);
    EXPECT_TRUE(viaUnknown.rows.empty());

    std::string wrongKind = EncodeProgramInfoRequest(1);
    wrongKind[0] = 1;
    const std::pair<Answer, const char*> invalid[] = {
        {client.Query(""), "56"},
        {client.Query(request.substr(0, 55)), "55"},
        {client.Query(request + "x"), "57"},
        {client.Query(EncodeActivityRequest(4, 0, 0, 0, 0, 0)), "kind 4"},
        {client.Query(EncodeActivityRequest(-1, 0, 0, 0, 0, 0)), "kind -1"},
        {client.Query(EncodeActivityRequest(0, 0, 0, 0, std::nan(""), 45000)), "start"},
        {client.Query(EncodeActivityRequest(0, 0, 0, 0, 45000, std::numeric_limits<double>::infinity())), "end"},
        {client.Query(EncodeActivityRequest(0, 0, 0, 0, 45000, 1e12)), "end"},
        {client.ProgramInfo(EncodeProgramInfoRequest(1).substr(0, 20)), "24"},
        {client.ProgramInfo(request), "24"},
        {client.ProgramInfo(wrongKind), "kind 1"}};
    for (const auto& [answer, mention] : invalid) {
        EXPECT_TRUE(answer.status.ok() && answer.rows.empty()) << mention;
        EXPECT_EQ(answer.hresult, contract::kInvalidArg) << mention;
        EXPECT_THAT(answer.description, HasSubstr(mention));
    }
    // Random requests of every size are the request fuzz target's.
    EXPECT_EQ(client.Query(request).rows.size(), 2u) << "still answering";
    EXPECT_EQ(ReadFile(store), before) << "the store is unchanged";

    // A program without an icon has a null one; icons stored by an import are checked with the import.
    const Answer cmd = client.ProgramInfo(EncodeProgramInfoRequest(1));
    ASSERT_EQ(cmd.hresult, contract::kOk) << cmd.description;
    ASSERT_EQ(cmd.rows.size(), 1u);
    EXPECT_EQ(Cell(cmd, cmd.rows[0], "Icon").tag(), contract::kTagNull);
    EXPECT_EQ(cmd.fields[static_cast<std::size_t>(cmd.Field("Icon"))].ado_type(), contract::kAdoLongVarBinary);
    const Answer app = client.ProgramInfo(EncodeProgramInfoRequest(2));
    ASSERT_EQ(app.rows.size(), 1u);
    EXPECT_EQ(Cell(app, app.rows[0], "Description").bytes(), "");
    // An unknown program's empty answer is RemoteQuery's.
}

// The reader of the viewer and qvreport takes an answer of exactly its row cap and refuses one row more; a batch of the
// longest titles (program 2's) ends at its byte budget long before its row count.
TEST(ServiceContract, TheReaderTakesAnAnswerOfExactlyItsRowCapAndBatchesKeepToTheirByteBudget) {
    TempDir dir;
    constexpr std::size_t kRows = 2500;  // three batches
    const std::string store = dir.File("store.db");
    WriteManyTitles(store, kRows);
    std::vector<qv::ActivityRecord> records;
    for (int i = 0; i < 80; ++i) {
        std::string title = std::to_string(i) + " ";
        title.resize(qv::kMaxTextBytes, 't');
        records.push_back({"anna", "WS-01", "app.exe", "", title, 1'700'000'000'000 + i, 1000, 1, 1});
    }
    WriteRecords(store, records);
    LocalService service(StoreOptions(store));
    std::size_t titleBytes = 0;
    const Answer answer = service.Client().Query(EncodeActivityRequest(3, 0, 0, 2, 0, 0), {},
                                                 [&](const auto& row) { titleBytes += row.values(1).bytes().size(); });
    ASSERT_TRUE(answer.status.ok()) << answer.status.error_message();
    EXPECT_EQ(answer.rowCount, records.size());
    EXPECT_EQ(titleBytes, records.size() * qv::kMaxTextBytes);
    EXPECT_GE(answer.batches, titleBytes / contract::kBatchBytes);

    const std::string request = EncodeActivityRequest(3, 0, 0, 1, 0, 0);
    for (const std::size_t cap : {kRows, kRows - 1}) {
        const ActivationResult activation =
            ActivateRemoteObject(service.Address(), contract::kClassId, contract::kQueryInterfaceId, {.maxRows = cap});
        ASSERT_EQ(activation.hr, S_OK) << activation.description;
        const RemoteAnswer capped = activation.object->Query(std::as_bytes(std::span(request)));
        ASSERT_EQ(capped.hr, cap == kRows ? S_OK : E_OUTOFMEMORY) << capped.description;
        if (cap == kRows) {
            EXPECT_EQ(capped.recordset->RecordCount(), kRows);
        } else {
            EXPECT_THAT(capped.description, HasSubstr("more than 2499 rows"));
        }
    }
}

using namespace std::chrono_literals;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows

static std::int32_t ProgramInfoStatus(ServiceClient& client, const std::string& user) {
    const Answer answer = client.ProgramInfo(server::EncodeProgramInfoRequest(1), {user});
    EXPECT_TRUE(answer.status.ok()) << answer.status.error_message();
    return answer.hresult;
}

TEST(CallLimits, NewNamesFromOneAddressGainNoCallsAStalledCallerLosesItsCallAtTheLimitAndSigtermEndsOneAfterItsGrace) {
    TempDir dir;
    const std::string store = dir.File("titles.db");
    WriteManyTitles(store, kTitles);
    const auto stub = [](const std::string& address, const grpc::ChannelArguments& arguments = {}) {
        return pb::QuorvisService::NewStub(
            grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), arguments));
    };
    {
        // Without client certificates a new name for every call gains no more: callers are counted by address too,
        // also over a connection of their own. No call time limit, so that no held call ends early on a slow machine.
        const auto process = Serve(store, {"--max-calls-per-caller", "1", "--max-calls-per-address", "2"});
        grpc::ChannelArguments own;
        own.SetInt("qv.test.own_connection", 1);
        const auto shared = stub(process->ListeningAddress()), other = stub(process->ListeningAddress(), own);
        StalledReader first(*shared, "carol");
        ASSERT_EQ(first.hresult, contract::kOk);
        StalledReader second(*other, "erin");
        ASSERT_EQ(second.hresult, contract::kOk);
        EXPECT_EQ(StalledReader(*other, "frank").hresult, contract::kServerTooBusy);
    }
    {
        // The limit leaves room for the first row of the large answer, also in a sanitizer build.
        const auto process = Serve(store, {"--call-timeout", "3", "--max-calls-per-caller", "1"});
        const std::string address = process->ListeningAddress();
        ServiceClient client(address);
        const auto calls = stub(address);
        StalledReader stalled(*calls, "carol");
        ASSERT_EQ(stalled.hresult, contract::kOk);
        EXPECT_EQ(ProgramInfoStatus(client, "carol"), contract::kServerTooBusy);
        EXPECT_EQ(ProgramInfoStatus(client, "dave"), contract::kOk) << "the limit is each caller's own";

        // The slot comes back once the service has ended the stalled call.
        const auto limit = std::chrono::steady_clock::now() + 30s;
        std::int32_t status = contract::kServerTooBusy;
        while (status == contract::kServerTooBusy && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(10ms);
            status = ProgramInfoStatus(client, "carol");
        }
        EXPECT_EQ(status, contract::kOk);
        EXPECT_FALSE(stalled.Drain().ok());
        EXPECT_EQ(process->Stop(SIGTERM), 0);
        EXPECT_THAT(process->Log(), HasSubstr("Query from 'carol' ended at the call time limit of 3 s"));
    }

    // Rows and their bytes are RemoteQuery's; here the answer comes whole, in full batches, past a stalled caller.
    const auto process = Serve(store);
    const std::string address = process->ListeningAddress();
    const auto calls = stub(address);
    StalledReader stalled(*calls, "carol");
    ASSERT_EQ(stalled.hresult, contract::kOk);
    const Answer whole =
        ServiceClient(address).Query(server::EncodeActivityRequest(3, 0, 0, 1, 0, 0), {}, [](const pb::Row&) {});
    ASSERT_TRUE(whole.status.ok()) << whole.status.error_message();
    EXPECT_EQ(whole.rowCount, kTitles);
    EXPECT_EQ(whole.batches, kTitles / contract::kRowsPerBatch);
    EXPECT_EQ(process->Stop(SIGTERM), 0) << process->Log();
    EXPECT_FALSE(stalled.Drain().ok());
}

TEST(ConnectionPool, WaitsForAFreeConnectionAndGivesUpWhenTheCallEnds) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    WriteRecords(store, {});
    server::ConnectionPool pool(store, 1);

    auto first = pool.Acquire();
    server::Database* const connection = &*first;
    EXPECT_THROW(pool.Acquire([] { return true; }), server::StoreError) << "the only connection is leased";

    // A waiting call gets the connection as soon as it comes back, and it is the same one, not a second.
    std::atomic<bool> waiting = false;
    auto second = std::async(std::launch::async, [&] {
        return &*pool.Acquire([&] {
            waiting = true;
            return false;
        });
    });
    while (!waiting) std::this_thread::yield();
    { auto returned = std::move(first); }
    EXPECT_EQ(second.get(), connection);

    // A store that cannot be opened fails the call and frees its place.
    server::ConnectionPool missing(dir.File("missing.db"), 1);
    EXPECT_THROW(missing.Acquire(), server::StoreError);
    EXPECT_THROW(missing.Acquire(), server::StoreError) << "the failed open must not keep the only place";

    // The watchdog's bookkeeping under calls from many threads at once.
    server::CallWatchdog watchdog(std::chrono::hours(1));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            grpc::ServerContext context;
            for (int i = 0; i < 2000; ++i) watchdog.Start(context);
        });
    }
    for (auto& thread : threads) thread.join();
}

namespace {

const std::string kRecorderId(16, '\x01');

ActivityRecord Record(std::string computer, std::int64_t durationMs, std::string title = "main") {
    return {"CORP\\anna",      std::move(computer), "editor", "Editor", std::move(title),
            1'700'000'000'000, durationMs,          3,        4};
}

server::ServeOptions Recording(const std::string& store, const std::string& certs, bool clientCa = true) {
    server::ServeOptions options = StoreOptions(store);
    options.tlsCertFile = certs + "/test-server.pem";
    options.tlsKeyFile = certs + "/test-server.key";
    if (clientCa) options.clientCaFile = certs + "/test-ca.pem";
    options.recorderCaFile = certs + "/test-recorder-ca.pem";
    return options;
}

}  // namespace

TEST(Recording, EachCertificateDoesItsOwnJobOnly) {
    TempDir dir;
    const std::string store = SmallStore(dir);
    const std::string certs = CopyTestCertificates(dir);

    // The viewers' CA may not double as the recorders'; which certificates record is the batches' below.
    EXPECT_THROW(server::RecorderIdentity(certs + "/test-ca.pem", certs + "/test-ca.pem"), std::runtime_error);
    EXPECT_THROW(server::RecorderIdentity(certs + "/test-recorder-WS-01.key", ""), std::runtime_error);
    server::ServeOptions plain = StoreOptions(store);
    plain.recorderCaFile = certs + "/test-recorder-ca.pem";
    EXPECT_THROW(server::ServiceHost{plain}.Start(), std::runtime_error) << "recording needs TLS";

    const auto expect = [](const grpc::Status& status, grpc::StatusCode code, const std::string& part) {
        EXPECT_EQ(status.error_code(), code) << status.error_message();
        EXPECT_THAT(status.error_message(), HasSubstr(part));
    };
    for (const bool clientCa : {true, false}) {
        server::ServeOptions options = Recording(store, certs, clientCa);
        if (clientCa) options.allowed = {"mallory"};
        LocalService service(options);
        const auto batch = WireBatch(kRecorderId, 1, {Record("WS-01", 1000)});
        expect(SendBatch(*RecorderStub(service.Address(), certs, "test-client-alice"), batch),
               clientCa ? grpc::StatusCode::PERMISSION_DENIED : grpc::StatusCode::UNAVAILABLE, "");
        expect(SendBatch(*RecorderStub(service.Address(), certs, ""), batch), grpc::StatusCode::PERMISSION_DENIED,
               "recorder's certificate");
        const auto ws02 = RecorderStub(service.Address(), certs, "test-recorder-WS-02");
        expect(SendBatch(*ws02, batch), grpc::StatusCode::PERMISSION_DENIED, "records the computer WS-02 only");
        auto bad = WireBatch(kRecorderId, 1, {Record("WS-02", 1000), Record("WS-02", -1)});
        expect(SendBatch(*ws02, bad), grpc::StatusCode::INVALID_ARGUMENT, "record 2: duration_ms");
        bad.mutable_records(1)->set_duration_ms(1);
        bad.add_icons()->set_process("editor");
        bad.mutable_icons(0)->set_icon("not an icon");
        expect(SendBatch(*ws02, bad), grpc::StatusCode::INVALID_ARGUMENT, "the icon of editor");
        bad.clear_icons();
        bad.set_recorder_id("short");
        expect(SendBatch(*ws02, bad), grpc::StatusCode::INVALID_ARGUMENT, "recorder id");

        // A recorder cannot query. Under a client CA the certificate names the caller, never the name it claims, and
        // a caller without one is nobody and hears so rather than losing the connection; without, viewers connect as
        // before. Alice's certificate with no --allow is BatchesCountOnce's viewer.
        pb::ActivateReply reply = TlsClient(service.Address(), certs, "test-recorder-WS-01").Activate({"mallory"});
        EXPECT_EQ(reply.hresult(), contract::kAccessDenied);
        EXPECT_THAT(reply.description(), HasSubstr("recorder's certificate cannot query"));
        EXPECT_EQ(
            TlsClient(service.Address(), certs, clientCa ? "test-client-alice" : "").Activate({"mallory"}).hresult(),
            clientCa ? contract::kAccessDenied : contract::kOk);
        grpc::Status status;
        reply = TlsClient(service.Address(), certs, "").Activate({"mallory"}, &status);
        ASSERT_TRUE(status.ok()) << status.error_message();
        EXPECT_EQ(reply.hresult(), clientCa ? contract::kAccessDenied : contract::kOk);
        EXPECT_TRUE(!clientCa || reply.description().find("no client certificate") != std::string::npos)
            << reply.description();
    }

    // Without --recorder-ca the method says that recording is off.
    LocalService off(StoreOptions(store));
    ServiceClient viewer = off.Client();
    EXPECT_EQ(TotalTimeSpent(viewer), 60'000 + 30'000) << "nothing refused was stored, only SmallStore's records";
    const auto inPlainText =
        pb::QuorvisRecorder::NewStub(grpc::CreateChannel(off.Address(), grpc::InsecureChannelCredentials()));
    expect(SendBatch(*inPlainText, WireBatch(kRecorderId, 1, {})), grpc::StatusCode::FAILED_PRECONDITION,
           "--recorder-ca");
}

class RecordingOnEachEngine : public EachStoreEngine {};

TEST_P(RecordingOnEachEngine, BatchesCountOnceAreAnsweredAtOnceAndUpgradeAnOlderStore) {
    TempDir dir;
    const std::string store = NewStore(dir);
    const std::string certs = CopyTestCertificates(dir);
    WriteRecords(store, {Record("WS-01", 5)});
    // As a store of version 1 (SQLite) or 4 (PostgreSQL) was: each upgrade's path, on one engine.
    const int older = Postgres() ? 4 : 1;
    {
        const auto db = server::OpenStore(store, server::Database::Mode::ReadWrite);
        db->Exec(
            "DROP TABLE year_programs; DROP TABLE year_windows; DROP TABLE month_programs; DROP TABLE month_windows; "
            "DELETE FROM store_info WHERE key = 'latest_end_ms'");
        if (older == 1) db->Exec("DROP TABLE recorders; DROP TABLE all_programs; DROP TABLE days4_programs");
        db->SetSchemaVersion(older);
        // The records keyed by an id of their own, with an index of starts.
        if (server::IsPostgresStore(store)) {
            db->Exec(
                "ALTER TABLE activity ADD FOREIGN KEY (user_id) REFERENCES users(id), "
                "ADD FOREIGN KEY (window_id) REFERENCES window_titles(id), DROP CONSTRAINT activity_pkey, "
                "ADD PRIMARY KEY (id)");
        } else {
            db->Exec(
                "ALTER TABLE activity RENAME TO keyed_by_start; "
                "CREATE TABLE activity(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL, computer_id INTEGER NOT "
                "NULL, program_id INTEGER NOT NULL, window_id INTEGER NOT NULL, start_ms INTEGER NOT NULL, "
                "duration_ms INTEGER NOT NULL, keyboard_events INTEGER NOT NULL, mouse_events INTEGER NOT NULL); "
                "INSERT INTO activity SELECT 7, user_id, computer_id, program_id, window_id, start_ms, "
                "duration_ms, keyboard_events, mouse_events FROM keyed_by_start; DROP TABLE keyed_by_start");
        }
        db->Exec("CREATE INDEX activity_by_start ON activity(start_ms)");
    }
    LocalService service(Recording(store, certs));
    auto viewer = TlsClient(service.Address(), certs, "test-client-alice");
    EXPECT_EQ(TotalTimeSpent(viewer), 5) << "an older store, upgraded as the service starts";
    for (const int kind : {0, 3}) {  // users, and the titles of the one program
        const Answer decade = viewer.Query(server::EncodeActivityRequest(kind, 0, 0, 1, 43831.0, 47119.0));  // 2020s
        ASSERT_EQ(decade.rows.size(), 1u) << decade.description;
        EXPECT_EQ(Cell(decade, decade.rows[0], "TimeSpent").integer(), 5)
            << "the coarser levels, summed at the upgrade";
    }
    EXPECT_EQ(server::ReadRecordExtent(*server::OpenStore(store, server::Database::Mode::ReadWrite)).latestEndMs,
              Record("", 5).startMs + 5)
        << "found at the upgrade";

    const auto stub = RecorderStub(service.Address(), certs, "test-recorder-WS-01");
    const auto send = [&](std::uint64_t first, std::vector<ActivityRecord> records) {
        pb::RecordReply reply;
        const auto status = SendBatch(*stub, WireBatch(kRecorderId, first, records), &reply);
        EXPECT_TRUE(status.ok()) << status.error_message();
        return reply.committed_sequence();
    };
    EXPECT_EQ(send(1, {Record("ws-01", 10), Record("WS-01", 20, "other")}), 2u) << "computer names ignore case";
    EXPECT_EQ(TotalTimeSpent(viewer), 35) << "visible as soon as acknowledged";
    EXPECT_EQ(send(1, {Record("WS-01", 10), Record("WS-01", 20, "other")}), 2u) << "a resent batch";
    EXPECT_EQ(send(2, {Record("WS-01", 20, "other"), Record("WS-01", 40)}), 3u) << "overlapping";
    EXPECT_EQ(send(10, {Record("WS-01", 80)}), 10u) << "a gap, as after a batch set aside";
    EXPECT_EQ(send(5, {Record("WS-01", 160)}), 10u) << "behind the highest number";
    EXPECT_TRUE(SendBatch(*stub, WireBatch(std::string(16, '\x02'), 1, {Record("WS-01", 320)})).ok());
    EXPECT_EQ(TotalTimeSpent(viewer), 5 + 10 + 20 + 40 + 80 + 320) << "each record once, per recorder";

    pb::RecordReply reply;
    EXPECT_TRUE(SendBatch(*stub, WireBatch(kRecorderId, 11, {Record("WS-01", 1)}), &reply).ok());
    EXPECT_EQ(reply.programs_without_icon_size(), 1);
    if (Postgres()) {
        EXPECT_EQ(StoreRowCount(store, "pg_constraint WHERE conrelid = 'activity'::regclass AND contype = 'f'"), 0)
            << "the writer checks the names once a write instead";
    }
    const char* startIndex = Postgres() ? "pg_indexes WHERE indexname = 'activity_by_start'"
                                        : "sqlite_master WHERE name = 'activity_by_start' "
                                          "OR (name = 'activity' AND sql NOT LIKE '%WITHOUT ROWID')";
    EXPECT_EQ(StoreRowCount(store, startIndex), 0) << "the records keyed by start, without an index of starts";
    const auto db = server::OpenStore(store, server::Database::Mode::ReadWrite);
    EXPECT_EQ(db->SchemaVersion(), server::kStoreVersion);
    server::Transaction transaction(*db, server::Transaction::Kind::Write);
    server::RecordWriter writer(*db);
    writer.AddResolved({1, 1, 1, 999'999}, 0, 1, 0, 0);
    EXPECT_THROW(writer.Finish(), server::StoreError) << "a record naming a window title the store does not hold";
}

// Writers side by side (a database server's): one recorder's batches sent
// again while their first sending is written, and new names that several
// recorders bring at once, in orders of their own.
TEST_P(RecordingOnEachEngine, WritersAtOnceStoreEachRecordOnceAndEachNameOnce) {
    TempDir dir;
    const std::string store = NewStore(dir);
    constexpr int kBatches = 20, kPerBatch = 50;
    const auto batch = [&](char recorder, int number, bool reversed) {
        server::RecordBatch made{std::string(16, recorder), static_cast<std::uint64_t>(number * kPerBatch + 1), {}, {}};
        for (int i = 0; i < kPerBatch; ++i) {
            const int name = reversed ? kPerBatch - 1 - i : i;
            made.records.push_back({"user " + std::to_string(name % 7), std::string("PC-") + recorder, "editor", "",
                                    "title " + std::to_string(number) + "/" + std::to_string(name),
                                    1'700'000'000'000 + i * 1000, 1 + i, 1, 1});
        }
        return made;
    };
    WriteRecords(store, {});
    server::BatchIngest ingest(store);
    std::atomic<int> failures{0};
    std::vector<std::thread> senders;
    for (int sender = 0; sender < 6; ++sender) {
        senders.emplace_back([&, sender] {
            const char recorder = sender < 3 ? 'a' : static_cast<char>('b' + sender);
            for (int number = 0; number < kBatches; ++number) {
                try {
                    ingest.Store(batch(recorder, number, sender % 2 != 0));
                } catch (const std::exception& error) {
                    ++failures;
                    ADD_FAILURE() << error.what();
                }
            }
        });
    }
    for (auto& sender : senders) sender.join();
    EXPECT_EQ(failures, 0);
    const auto db = server::OpenStore(store, server::Database::Mode::ReadOnly);
    server::Statement counts(*db,
                             "SELECT (SELECT count(*) FROM activity), (SELECT sum(time_ms) FROM all_programs), "
                             "(SELECT count(*) FROM window_titles), (SELECT count(*) FROM users)");
    ASSERT_TRUE(counts.Step());
    const std::int64_t perRecorder = kBatches * kPerBatch * (kPerBatch + 1) / 2;
    EXPECT_EQ(counts.Int64(0), 4 * kBatches * kPerBatch) << "four recorders' records, each once";
    EXPECT_EQ(counts.Int64(1), 4 * perRecorder);
    EXPECT_EQ(counts.Int64(2), kBatches * kPerBatch);
    EXPECT_EQ(counts.Int64(3), 7);
}

QV_ON_EACH_STORE_ENGINE(RecordingOnEachEngine);

TEST(SecureSetUp, LoopbackAndTheListenAddressDecideWhatIsTrustedAndFlagsComeOnce) {
    // The first five listen on loopback only.
    const char* const listens[] = {
        "127.0.0.1:1", "127.8.9.10:1",        "[::1]:1",         "LocalHost:1", "", "0.0.0.0:1", "[::]:1", "10.0.0.1:1",
        "128.0.0.1:1", "[::ffff:10.0.0.1]:1", "server.example:1"};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(server::IsLoopbackOnly(server::ParseListenAddress(listens[i])), i < 5) << i;
    EXPECT_EQ(server::ParseListenAddress("").host, "127.0.0.1");
    EXPECT_EQ(server::ParseListenAddress("").port, contract::kDefaultPort);
    EXPECT_EQ(server::ParseListenAddress("[::1]").port, contract::kDefaultPort);
    EXPECT_EQ(server::ParseListenAddress("[::1]:65535").port, 65535);
    for (const char* bad : {"[::1", "[::1]x", "::1", ":80", "[]:80", "host:", "host:65536", "host:12ab", "host:123456"})
        EXPECT_THROW(server::ParseListenAddress(bad), std::invalid_argument) << bad;

    server::ServeOptions tlsAlone;
    tlsAlone.listen = "[::]:47913";
    tlsAlone.tlsCertFile = "s.pem";
    tlsAlone.tlsKeyFile = "s.key";
    EXPECT_THROW(server::CheckServeSecurity(tlsAlone), std::runtime_error) << "TLS alone authenticates nobody";
    server::ServeOptions options;
    options.listen = "0.0.0.0:47913";
    options.allowed = {"alice"};
    options.trustClaimedNames = options.insecure = true;
    const auto warnings = server::CheckServeSecurity(options);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_THAT(warnings[0], HasSubstr("--trust-claimed-names"));
    EXPECT_THAT(warnings[1], HasSubstr("plain text on 0.0.0.0:47913"));

    options.tlsCertFile = "s.pem";
    options.tlsKeyFile = "s.key";
    options.clientCaFile = "ca.pem";
    EXPECT_THROW(server::CheckServeSecurity(options), std::runtime_error) << "the flag contradicts --client-ca";
    options.trustClaimedNames = false;
    EXPECT_TRUE(server::CheckServeSecurity(options).empty());

    // Flags take no value and come once.
    const auto line =
        server::ParseCommandLine({"--a", "1", "--trust-claimed-names", "x"}, {"a"}, {"trust-claimed-names"});
    EXPECT_TRUE(line.flags.contains("trust-claimed-names"));
    EXPECT_EQ(line.Get("a"), "1");
    EXPECT_EQ(line.positional, std::vector<std::string>{"x"});
    EXPECT_THROW(server::ParseCommandLine({"--f", "--f"}, {}, {"f"}), server::UsageError);
    EXPECT_THROW(server::ParseCommandLine({"--f=yes"}, {}, {"f"}), server::UsageError);
    EXPECT_EQ(server::ParseCommandLine({"--a=x=1"}, {"a"}).Get("a"), "x=1");
    EXPECT_THROW(server::ParseCommandLine({"--a", "1", "--a=2"}, {"a"}), server::UsageError);
}

}  // namespace qv::test
