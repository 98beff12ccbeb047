// The viewer's client against a real qvservice on a loopback port: every activation outcome the viewer tells apart, and
// answers read through the same readers the trees and reports use.
#include "service/data_access_error.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

// A million titles of program 1, every odd one not UTF-8, read whole (the sums of small answers are qvreport_test's).
TEST(RemoteQuery, AMillionRowAnswerIsReadWholeAndRefusalsArriveAsTheError) {
    constexpr std::size_t kRows = 1'000'000;
    TempDir dir;
    const std::string store = dir.File("store.db");
    qv::test::WriteManyTitles(store, kRows);
    const auto process = qv::test::Serve(store);
    const std::string address = process->ListeningAddress();
    ActivationResult activation = ActivateQuorvisService(address);
    ASSERT_EQ(activation.hr, S_OK) << activation.description;
    RemoteQVQuery service(activation.object);

    QueryRequest request;
    request.kind = static_cast<std::int32_t>(QueryKind::ProgramDetails);
    request.programId = 1;
    RecordsetReader titles(RunQuery(&service, request));
    titles.SetSort("TimeSpent Desc");
    Field name = titles.GetField("Name");
    Field time = titles.GetField("TimeSpent");
    std::size_t rows = 0;
    std::size_t replaced = 0;  // the odd titles' byte that is not UTF-8
    double total = 0;
    for (; !titles.IsEOF(); titles.MoveNext(), ++rows) {
        replaced += GetFieldString(name).ends_with(u" \uFFFD") ? 1 : 0;
        total += GetFieldDouble(time);
    }
    EXPECT_EQ(rows, kRows);
    EXPECT_EQ(replaced, kRows / 2);
    EXPECT_EQ(total, 1000.0 * kRows);

    // A malformed request is refused by the service and arrives as the data-access error with the service's
    // description.
    request.kind = 42;
    try {
        RunQuery(&service, request);
        FAIL() << "an unknown query kind was answered";
    } catch (const DataAccessError& error) {
        EXPECT_LT(error.Status(), 0);
        EXPECT_FALSE(error.Description().empty());
    }
    EXPECT_THROW(RunQuery(nullptr, request), DataAccessError);
}

TEST(RemoteActivation, UnreachableOrUnnamedServersAreUnavailable) {
    // Port 1 on loopback: nothing of ours listens there.
    const std::string closed = "127.0.0.1:1";
    RemoteDeadlines quick{std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};
    EXPECT_EQ(static_cast<std::uint32_t>(ActivateQuorvisService(closed, quick).hr), 0x800706BAu);
    // Names that cannot be a target are refused before any look-up, so no resolver is asked; they read as an
    // unavailable server all the same.
    for (const char* bad : {"bad name", "", "host:0", "a/b"}) {
        const ActivationResult refused = ActivateQuorvisService(bad, quick);
        EXPECT_EQ(static_cast<std::uint32_t>(refused.hr), 0x800706BAu) << bad;
        EXPECT_EQ(refused.description, "not a server name: " + std::string(bad));
        EXPECT_FALSE(refused.object) << bad;
    }

    for (const auto& [name, target] : {std::pair{"quorvis", "quorvis:47913"},
                                       {"quorvis:5000", "quorvis:5000"},
                                       {"[::1]", "[::1]:47913"},
                                       {"[::1]:5000", "[::1]:5000"}})
        EXPECT_EQ(ChannelTarget(name), target);
    for (const char* bad : {"", "host:", "host:0", "host:65536", "host:12ab", ":80", "a:b:c", "[::1", "[]", "a/b"})
        EXPECT_EQ(ChannelTarget(bad), "") << bad;
}

}  // namespace
