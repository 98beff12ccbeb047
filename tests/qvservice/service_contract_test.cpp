// The service's contract, called over gRPC: activation, access and request checks, batches and the reader's row cap;
// a call's limits (a stalled caller loses its call at the time limit, callers hold no more calls than allowed by name
// or by address, SIGTERM ends a stalled call after its grace while a large answer to another caller arrives whole) and
// what it holds (a store connection, bounded, reused and given up with the call).
#include "platform/remote_activation.h"
#include "qvservice/query/query_request.h"
#include "qvservice/rpc/call_watchdog.h"
#include "qvservice/rpc/connection_pool.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

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
    EXPECT_EQ(client.Query(request, {"", "{BAD}", std::string(contract::kQueryInterfaceId)}).hresult,
              contract::kClassNotRegistered);
    const Answer viaUnknown =
        client.Query(request, {"", std::string(contract::kClassId), std::string(contract::kUnknownInterfaceId)});
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
        EXPECT_NE(answer.description.find(mention), std::string::npos) << answer.description;
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

TEST(ServiceContract, OnlyAllowedCallersGetIn) {
    TempDir dir;
    server::ServeOptions options = StoreOptions(SmallStore(dir));
    options.allowed = {"CORP\\alice", "carol", "j\xC3\xBCrgen"};
    LocalService service(options);
    ServiceClient client = service.Client();

    // A caller without a name is refused; names compare without case and need not be ASCII.
    for (const auto& [name, hr] : {std::pair{"", contract::kAccessDenied},
                                   {"bob", contract::kAccessDenied},
                                   {"corp\\ALICE", contract::kOk},
                                   {"carol", contract::kOk},
                                   {"j\xC3\xBCrgen", contract::kOk}})
        EXPECT_EQ(client.Activate({name}).hresult(), hr) << name;

    // Each operation checks the caller again.
    const std::string request = EncodeActivityRequest(0, 0, 0, 0, 0, 0);
    const Answer refused = client.Query(request, {"bob"});
    EXPECT_EQ(refused.hresult, contract::kAccessDenied);
    EXPECT_TRUE(refused.rows.empty());
    EXPECT_EQ(client.ProgramInfo(EncodeProgramInfoRequest(1), {"bob"}).hresult, contract::kAccessDenied);
    EXPECT_EQ(client.Query(request, {"carol"}).rows.size(), 2u);
    // An unknown class is reported before the caller is judged.
    EXPECT_EQ(client.Activate({"bob", "{BAD}", ""}).hresult(), contract::kClassNotRegistered);
}

// Rows of the longest titles: a batch ends at its byte budget long before its row count.
TEST(ServiceContract, BatchesKeepToTheirByteBudget) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    std::vector<qv::ActivityRecord> records;
    for (int i = 0; i < 80; ++i) {
        std::string title = std::to_string(i) + " ";
        title.resize(qv::kMaxTextBytes, 't');
        records.push_back({"anna", "WS-01", "app.exe", "", title, 1'700'000'000'000 + i, 1000, 1, 1});
    }
    WriteRecords(store, records);
    LocalService service(StoreOptions(store));
    std::size_t titleBytes = 0;
    const Answer answer = service.Client().Query(EncodeActivityRequest(3, 0, 0, 1, 0, 0), {},
                                                 [&](const auto& row) { titleBytes += row.values(1).bytes().size(); });
    ASSERT_TRUE(answer.status.ok()) << answer.status.error_message();
    EXPECT_EQ(answer.rowCount, records.size());
    EXPECT_EQ(titleBytes, records.size() * qv::kMaxTextBytes);
    EXPECT_GE(answer.batches, titleBytes / contract::kBatchBytes);
}

// The reader of the viewer and qvreport takes an answer of exactly its row cap and refuses one row more.
TEST(ServiceContract, TheReaderTakesAnAnswerOfExactlyItsRowCap) {
    TempDir dir;
    constexpr std::size_t kRows = 2500;  // three batches
    WriteManyTitles(dir.File("store.db"), kRows);
    LocalService service(StoreOptions(dir.File("store.db")));
    const std::string request = EncodeActivityRequest(3, 0, 0, 1, 0, 0);
    for (const std::size_t cap : {kRows, kRows - 1}) {
        RemoteDeadlines deadlines;
        deadlines.maxRows = cap;
        const ActivationResult activation =
            ActivateRemoteObject(service.Address(), contract::kClassId, contract::kQueryInterfaceId, deadlines);
        ASSERT_EQ(activation.hr, S_OK) << activation.description;
        const RemoteAnswer answer = activation.object->Query(std::as_bytes(std::span(request)));
        if (cap == kRows) {
            ASSERT_EQ(answer.hr, S_OK) << answer.description;
            EXPECT_EQ(answer.recordset->RecordCount(), kRows);
        } else {
            EXPECT_EQ(answer.hr, E_OUTOFMEMORY);
            EXPECT_NE(answer.description.find("more than 2499 rows"), std::string::npos) << answer.description;
        }
    }
}

namespace pb = quorvis::v1;
using namespace std::chrono_literals;

constexpr std::size_t kTitles = 200'000;  // an answer far larger than the transport's windows

static std::int32_t ProgramInfoStatus(ServiceClient& client, const std::string& user) {
    const Answer answer = client.ProgramInfo(server::EncodeProgramInfoRequest(1), {user});
    EXPECT_TRUE(answer.status.ok()) << answer.status.error_message();
    return answer.hresult;
}

// Without client certificates a new name for every call gains no more: callers are counted by address too, also
// over a connection of their own. No call time limit here, so that no held call ends early on a slow machine.
TEST(CallLimits, NewNamesFromOneAddressGainNoCalls) {
    TempDir dir;
    WriteManyTitles(dir.File("titles.db"), kTitles);
    const auto process = Serve(dir.File("titles.db"), {"--max-calls-per-caller", "1", "--max-calls-per-address", "2"});
    const std::string address = process->ListeningAddress();
    grpc::ChannelArguments own;
    own.SetInt("qv.test.own_connection", 1);
    const auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    const auto other =
        pb::QuorvisService::NewStub(grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), own));
    StalledReader first(*stub, "carol");
    ASSERT_EQ(first.hresult, contract::kOk);
    StalledReader second(*other, "erin");
    ASSERT_EQ(second.hresult, contract::kOk);
    EXPECT_EQ(StalledReader(*other, "frank").hresult, contract::kServerTooBusy);
}

TEST(CallLimits, AStalledCallerLosesItsCallAtTheLimitAndSigtermEndsOneAfterItsGrace) {
    TempDir dir;
    const std::string store = dir.File("titles.db");
    WriteManyTitles(store, kTitles);
    {
        // The limit leaves room for the first row of the large answer, also in a sanitizer build.
        const auto process = Serve(store, {"--call-timeout", "3", "--max-calls-per-caller", "1"});
        const std::string address = process->ListeningAddress();
        ServiceClient client(address);
        const auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
        StalledReader stalled(*stub, "carol");
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
        EXPECT_NE(process->Log().find("Query from 'carol' ended at the call time limit of 3 s"), std::string::npos)
            << process->Log();
    }

    // Rows and their bytes are RemoteQuery's; here the answer comes whole, in full batches, past a stalled caller.
    const auto process = Serve(store);
    const std::string address = process->ListeningAddress();
    const auto stub = pb::QuorvisService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    StalledReader stalled(*stub, "carol");
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

}  // namespace qv::test
