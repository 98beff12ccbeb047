// A large answer streams through the service: the PostgreSQL store must not hold it whole in memory.
#include "qvservice/model/entity_directory.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/model/time_buckets.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace qv::test {

constexpr std::int64_t kTitles = 500'000;

// The program's titles and their coarsest rollup rows (all that an all-time question reads), each by one statement.
static std::int64_t WriteTitles(const std::string& store) {
    const auto db = server::OpenStore(store, server::Database::Mode::Create);
    server::EnsureSchema(*db);
    server::Transaction transaction(*db, server::Transaction::Kind::Write);
    server::EntityDirectory names(*db);
    const std::int64_t program = names.ProgramId("browser.exe", "");
    const std::string title = server::IsPostgresStore(store) ? "convert_to('Tab ' || i, 'UTF8')" : "'Tab ' || i";
    const std::string ids = std::to_string(names.UserId("anna")) + ", " + std::to_string(names.ComputerId("WS-01"));
    db->Exec(
        "INSERT INTO window_titles(program_id, title) WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
        "FROM n WHERE i < " +
        std::to_string(kTitles) + ") SELECT " + std::to_string(program) + ", " + title + " FROM n");
    db->Exec("INSERT INTO " + std::string(server::kBucketLevels.front().name) +
             "_windows(program_id, bucket, user_id, computer_id, window_id, time_ms, keyboard_events, mouse_events) "
             "SELECT program_id, 0, " +
             ids + ", id, 1000, 1, 1 FROM window_titles");
    transaction.Commit();
    return program;
}

// The service's peak resident memory (kB) once it has answered every title of the program over all time.
static long PeakWhileAnswering(const std::string& store) {
    const auto program = static_cast<std::uint32_t>(WriteTitles(store));
    ServiceProcess process({"serve", "--store", store, "--listen", "127.0.0.1:0"});
    ServiceClient client(process.WaitUntilListening());
    const Answer answer = client.Query(server::EncodeActivityRequest(3, 0, 0, program, 0, 0), {}, [](const auto&) {});
    EXPECT_TRUE(answer.status.ok()) << answer.status.error_message() << process.Log();
    EXPECT_EQ(answer.rowCount, static_cast<std::size_t>(kTitles)) << answer.description;
    std::ifstream status("/proc/" + std::to_string(process.Pid()) + "/status");
    long peak = 0;
    for (std::string line; std::getline(status, line);)
        peak = line.starts_with("VmHWM:") ? std::stol(line.substr(6)) : peak;
    EXPECT_EQ(process.Stop(SIGTERM), 0) << process.Log();
    return peak;
}

TEST(AnswerMemory, PostgresStreamsALargeAnswerAsSqliteDoes) {
    QV_REQUIRE_POSTGRES();
    TempDir dir;
    const long sqlitePeak = PeakWhileAnswering(dir.File("titles.db"));
    const long postgresPeak = PeakWhileAnswering(PostgresCluster::Shared().NewDatabase());
    ASSERT_GT(sqlitePeak, 0);
    EXPECT_LE(postgresPeak, 2 * sqlitePeak) << "peak kB: PostgreSQL " << postgresPeak << ", SQLite " << sqlitePeak;
}

}  // namespace qv::test
