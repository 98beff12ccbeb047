// Activation, access and request checks of the service object, called over gRPC in this process.
#include "platform/remote_activation.h"
#include "qvservice/query/query_request.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

    EXPECT_EQ(client.Activate({}, &status).hresult(), contract::kOk);
    EXPECT_TRUE(status.ok());
    // Ids compare without regard to case; every object answers for IUnknown.
    CallIdentity lower{"", "{023a7a55-6bb3-455a-a486-c78cd53165a8}", "{51cd9372-ccae-4194-aa67-c66cbb40b436}"};
    EXPECT_EQ(client.Activate(lower).hresult(), contract::kOk);
    EXPECT_EQ(
        client.Activate({"", std::string(contract::kClassId), std::string(contract::kUnknownInterfaceId)}).hresult(),
        contract::kOk);

    const auto unknownClass = client.Activate({"", "{00000000-1111-2222-3333-444444444444}", ""}, &status);
    EXPECT_TRUE(status.ok()) << "service failures travel inside an OK status";
    EXPECT_EQ(unknownClass.hresult(), contract::kClassNotRegistered);
    EXPECT_FALSE(unknownClass.description().empty());

    const auto noInterface =
        client.Activate({"", std::string(contract::kClassId), "{11111111-2222-3333-4444-555555555555}"});
    EXPECT_EQ(noInterface.hresult(), contract::kNoInterface);
    EXPECT_FALSE(noInterface.description().empty());

    // The operations check the ids again and offer only IQVQuery.
    const std::string request = EncodeActivityRequest(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(client.Query(request, {"", "{BAD}", std::string(contract::kQueryInterfaceId)}).hresult,
              contract::kClassNotRegistered);
    const Answer viaUnknown =
        client.Query(request, {"", std::string(contract::kClassId), std::string(contract::kUnknownInterfaceId)});
    EXPECT_EQ(viaUnknown.hresult, contract::kNoInterface);
    EXPECT_TRUE(viaUnknown.rows.empty());

    const auto expectInvalid = [&](const Answer& answer, const std::string& mention) {
        EXPECT_TRUE(answer.status.ok());
        EXPECT_EQ(answer.hresult, contract::kInvalidArg) << mention;
        EXPECT_NE(answer.description.find(mention), std::string::npos) << answer.description;
        EXPECT_TRUE(answer.rows.empty());
    };
    expectInvalid(client.Query(""), "56");
    expectInvalid(client.Query(request.substr(0, 55)), "55");
    expectInvalid(client.Query(request + "x"), "57");
    expectInvalid(client.Query(EncodeActivityRequest(4, 0, 0, 0, 0, 0)), "kind 4");
    expectInvalid(client.Query(EncodeActivityRequest(-1, 0, 0, 0, 0, 0)), "kind -1");
    expectInvalid(client.Query(EncodeActivityRequest(0, 0, 0, 0, std::nan(""), 45000)), "start");
    expectInvalid(client.Query(EncodeActivityRequest(0, 0, 0, 0, 45000, std::numeric_limits<double>::infinity())),
                  "end");
    expectInvalid(client.Query(EncodeActivityRequest(0, 0, 0, 0, 45000, 1e12)), "end");
    expectInvalid(client.ProgramInfo(EncodeProgramInfoRequest(1).substr(0, 20)), "24");
    expectInvalid(client.ProgramInfo(request), "24");
    std::string wrongKind = EncodeProgramInfoRequest(1);
    wrongKind[0] = 1;
    expectInvalid(client.ProgramInfo(wrongKind), "kind 1");
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

    const Answer unknown = client.ProgramInfo(EncodeProgramInfoRequest(77));
    EXPECT_EQ(unknown.hresult, contract::kOk);
    EXPECT_EQ(unknown.Field("Description"), 2);
    EXPECT_TRUE(unknown.rows.empty());
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

}  // namespace qv::test
