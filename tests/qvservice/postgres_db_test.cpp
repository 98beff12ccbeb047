// The PostgreSQL store against a throw-away cluster: values and errors, bulk loads, answers streamed, a password shown
// nowhere, and init, serve and demo beside an import in progress.
#include "qvservice/store/postgres/postgres_db.h"
#include "qvservice/model/entity_directory.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/model/time_buckets.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <csignal>
#include <fstream>
#include <limits>
#include <thread>

namespace qv::test {
using server::Database;
using server::SqlValue;
using server::Statement;
using server::StoreError;
using server::Transaction;
using namespace std::string_literals;

constexpr const char* kName = "the-test-store";

static std::unique_ptr<Database> Open(const std::string& uri, Database::Mode mode = Database::Mode::ReadWrite) {
    return server::OpenPostgres(uri, kName, mode);
}

static std::int64_t One(Database& db, const std::string& sql) {
    Statement statement(db, sql);
    EXPECT_TRUE(statement.Step()) << sql;
    return statement.Int64(0);
}

// The StoreError the call throws; the test fails when it throws none.
template <typename Call>
static StoreError Failure(Call call) {
    try {
        call();
    } catch (const StoreError& error) {
        return error;
    }
    ADD_FAILURE() << "no StoreError";
    return StoreError("");
}

TEST(PostgresDb, ParametersValuesAndBulkLoadsRoundTripByteForByte) {
    QV_REQUIRE_POSTGRES();
    const auto db = Open(PostgresCluster::Shared().NewDatabase());
    const auto& types = db->Types();
    db->Exec("CREATE TABLE t (id "s + types.idColumn + ", n " + types.integer + ", r " + types.real + ", name " +
             types.name + ", b " + types.blob + ");  CREATE INDEX t_n ON t (n)");

    // "?" inside literals, quoted names and comments is SQL text, not a parameter.
    Statement mixed(*db, "SELECT ?2, '?1 it''s ?2' /* don't ?3 */, ?1 AS \"?3\" -- ?4 isn't\n");
    mixed.Bind(1, std::int64_t{-7});
    mixed.BindText(2, "x");
    ASSERT_TRUE(mixed.Step());
    EXPECT_EQ(mixed.Bytes(0), "x");
    EXPECT_EQ(mixed.Bytes(1), "?1 it's ?2");
    EXPECT_EQ(mixed.Int64(2), -7);
    EXPECT_FALSE(mixed.Step());
    Statement gaps(*db, "SELECT ?4");  // numbers the text skips, bound or not, as SQLite allows
    gaps.BindNull(2);
    gaps.Bind(4, 2.5);
    ASSERT_TRUE(gaps.Step());
    EXPECT_EQ(gaps.Double(0), 2.5);

    const std::string odd("a\0b\xff\xfe\xc3", 6);  // a NUL and bytes that are not UTF-8
    const unsigned char blob[] = {0, 1, 0xff};
    const double reals[] = {0.1, -0.0, std::numeric_limits<double>::denorm_min(), -1e308};
    const std::int64_t integers[] = {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                                     0, -1};
    Statement insert(*db, "INSERT INTO t (n, r, name, b) VALUES (?1, ?2, ?3, ?4)");
    for (int k = 0; k < 4; ++k) {
        insert.Bind(1, integers[k]);
        insert.Bind(2, reals[k]);
        if (k < 3) insert.BindText(3, k == 0 ? odd : "plain");
        insert.BindBlob(4, std::span(blob, k));  // unbound name and empty blob at the end
        EXPECT_FALSE(insert.Step());
        insert.Reset();
    }
    Statement read(*db, "SELECT n, r, name, b FROM t ORDER BY id");
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(read.Step()) << k;
        EXPECT_EQ(read.Int64(0), integers[k]);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(read.Double(1)), std::bit_cast<std::uint64_t>(reals[k]));
        EXPECT_EQ(read.IsNull(2), k == 3);
        EXPECT_EQ(read.Bytes(2), k == 0 ? odd : k < 3 ? "plain" : "");
        EXPECT_FALSE(read.IsNull(3));
        EXPECT_EQ(read.Bytes(3), std::string_view(reinterpret_cast<const char*>(blob), k));
    }
    EXPECT_FALSE(read.Step());

    // Sums of BIGINT and decimals come back as NUMERIC; reading a column as the wrong kind throws.
    EXPECT_EQ(One(*db, "SELECT SUM(n) FROM t WHERE n > -2"), std::numeric_limits<std::int64_t>::max() - 1);
    Statement numbers(*db, "SELECT -1234567.8901, 0.00005, 2.9::float8, name FROM t");
    ASSERT_TRUE(numbers.Step());
    EXPECT_EQ(numbers.Double(0), -1234567.8901);
    EXPECT_EQ(numbers.Int64(0), -1234567);
    EXPECT_EQ(numbers.Double(1), 0.00005);
    EXPECT_EQ(numbers.Int64(2), 2);
    EXPECT_THROW(numbers.Int64(3), StoreError);
    EXPECT_THROW(numbers.Double(3), StoreError);
    EXPECT_THROW(Statement(*db, "SELECT 1.5::float8").Bytes(0), std::logic_error);  // no row yet

    // Bulk loads flush in batches between other statements.
    db->Exec("CREATE TABLE rows (n BIGINT, r DOUBLE PRECISION)");
    constexpr std::int64_t kRows = 400'000;  // about 10 MiB of COPY data
    bool sentBeforeFinish = false;
    {
        Transaction write(*db, Transaction::Kind::Write);
        const auto loader = db->Load("rows", {"n", "r"});
        for (std::int64_t k = 0; k < kRows; ++k) {
            // A real that is a whole number fits an integer column; an integer a real one.
            const SqlValue row[] = {k % 2 ? SqlValue(k) : SqlValue(static_cast<double>(k)), SqlValue(k)};
            loader->Add(row);
            if (k % 50'000 == 0) sentBeforeFinish = sentBeforeFinish || One(*db, "SELECT count(*) FROM rows") > 0;
        }
        const SqlValue narrow[] = {SqlValue(std::int64_t{1})};
        EXPECT_THROW(loader->Add(narrow), std::logic_error);
        const SqlValue fraction[] = {SqlValue(0.5), SqlValue(0.5)};
        EXPECT_THROW(loader->Add(fraction), StoreError);
        loader->Finish();
        write.Commit();
    }
    EXPECT_TRUE(sentBeforeFinish);
    db->RefreshPlannerStatistics();
    EXPECT_GT(One(*db, "SELECT CAST(reltuples AS BIGINT) FROM pg_class WHERE relname = 'rows'"), 0);
    EXPECT_EQ(One(*db, "SELECT count(*) FROM rows"), kRows);
    EXPECT_EQ(One(*db, "SELECT count(*) FROM rows WHERE r = n"), kRows);
    EXPECT_EQ(One(*db, "SELECT SUM(n) FROM rows"), kRows * (kRows - 1) / 2);

    {
        Transaction abandoned(*db, Transaction::Kind::Write);
        const auto loader = db->Load("rows", {"r"});
        const SqlValue row[] = {SqlValue(1.0)};
        for (int k = 0; k < 400'000; ++k) loader->Add(row);
        loader->Finish();
    }
    EXPECT_EQ(One(*db, "SELECT count(*) FROM rows"), kRows);
}

TEST(PostgresDb, ErrorsNameTheStoreAndALostConnectionSaysSo) {
    QV_REQUIRE_POSTGRES();
    const std::string uri = PostgresCluster::Shared().NewDatabase();
    const auto db = Open(uri);
    const StoreError missing = Failure([&] { Statement(*db, "SELECT * FROM missing").Step(); });
    EXPECT_EQ(missing.what(), std::string(kName) + ": relation \"missing\" does not exist");
    EXPECT_EQ(missing.Reason(), StoreError::Kind::Failed);

    // A transaction that a failed statement aborted must not commit as if whole.
    db->Exec("CREATE TABLE kept (x BIGINT)");
    {
        Transaction write(*db, Transaction::Kind::Write);
        db->Exec("INSERT INTO kept VALUES (1)");
        EXPECT_THROW(db->Exec("INSERT INTO kept VALUES ('no number')"), StoreError);
        EXPECT_THROW(write.Commit(), StoreError);
    }
    EXPECT_EQ(One(*db, "SELECT count(*) FROM kept"), 0);

    EXPECT_EQ(db->SchemaVersion(), 0);
    EXPECT_TRUE(db->HoldsForeignTables());
    EXPECT_THROW(Open(uri, Database::Mode::ReadOnly)->Exec("INSERT INTO kept VALUES (2)"), StoreError);

    const auto other = Open(PostgresCluster::Shared().NewDatabase());
    EXPECT_FALSE(other->HoldsForeignTables());
    other->Exec("CREATE TABLE store_info (key TEXT, value BIGINT)");
    EXPECT_EQ(std::string(Failure([&] { other->SchemaVersion(); }).what()),
              std::string(kName) + " holds a table store_info that is not a Quorvis store's");

    std::atomic<int> asked = 0;
    db->SetInterrupt([&] { return ++asked > 3; });  // once the statement runs
    const StoreError stopped = Failure([&] { Statement(*db, "SELECT pg_sleep(30)").Step(); });
    EXPECT_NE(std::string(stopped.what()).find("canceling statement"), std::string::npos) << stopped.what();
    EXPECT_EQ(stopped.Reason(), StoreError::Kind::Failed);
    db->SetInterrupt({});
    EXPECT_EQ(One(*db, "SELECT 1"), 1);
    EXPECT_FALSE(db->Broken());

    const auto killer = Open(uri);
    // Waits until the backend is gone.
    Statement kill(*killer, "SELECT pg_terminate_backend(CAST(?1 AS INTEGER), 30000)");
    kill.Bind(1, One(*db, "SELECT pg_backend_pid()"));
    ASSERT_TRUE(kill.Step());
    const StoreError lost = Failure([&] { One(*db, "SELECT 1"); });
    EXPECT_EQ(lost.Reason(), StoreError::Kind::ConnectionLost);
    EXPECT_TRUE(std::string(lost.what()).starts_with(kName + ": the connection to the database was lost ("s))
        << lost.what();
    EXPECT_TRUE(db->Broken());
    db->Rollback();

    // Its backend stopped, the server cannot answer the cancel: that costs the connection, not the request.
    const auto stuck = Open(uri);
    const pid_t backend = static_cast<pid_t>(One(*stuck, "SELECT pg_backend_pid()"));
    stuck->SetInterrupt([] { return true; });
    ASSERT_EQ(::kill(backend, SIGSTOP), 0);
    const StoreError hung = Failure([&] { One(*stuck, "SELECT 1"); });
    ::kill(backend, SIGCONT);
    EXPECT_EQ(hung.Reason(), StoreError::Kind::ConnectionLost) << hung.what();
    EXPECT_TRUE(stuck->Broken());
}

// Reading statements stay prepared on the server: through a failed transaction, a table made anew under them, and
// more shapes than the server keeps at once.
TEST(PostgresDb, PreparedStatementsOutliveFailuresFollowTheirTablesAndStayBounded) {
    QV_REQUIRE_POSTGRES();
    const auto db = Open(PostgresCluster::Shared().NewDatabase());
    db->Exec("CREATE TABLE k (n BIGINT); INSERT INTO k VALUES (1), (2)");
    const auto below = [&](std::int64_t limit) {
        Statement count(*db, "SELECT count(*) FROM k WHERE n < ?1");
        count.Bind(1, limit);
        EXPECT_TRUE(count.Step());
        return count.Int64(0);
    };
    const auto prepared = [&] { return One(*db, "SELECT count(*) FROM pg_prepared_statements"); };
    {
        Transaction failed(*db, Transaction::Kind::Read);
        EXPECT_EQ(below(2), 1);
        Failure([&] { One(*db, "SELECT 1 / (n - 1) FROM k ORDER BY n"); });
        Failure([&] { below(3); });
    }
    EXPECT_EQ(below(3), 2);
    db->Exec("DROP TABLE k; CREATE TABLE k (n BIGINT, m BIGINT); INSERT INTO k VALUES (5, 0)");
    EXPECT_EQ(below(10), 1);
    {
        Transaction open(*db, Transaction::Kind::Read);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(One(*db, "SELECT " + std::to_string(i)), i);
        EXPECT_LE(prepared(), 32);
    }
    for (int i = 0; i < 100; ++i) EXPECT_EQ(One(*db, "SELECT " + std::to_string(i)), i);
    EXPECT_EQ(below(10), 1);
    const std::int64_t kept = prepared();
    EXPECT_TRUE(kept > 1 && kept <= 32) << kept;
}

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
    db->Exec("INSERT INTO " + std::string(server::LargestLevel(true).name) +
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

constexpr const char* kSecret = "Zq7";

static bool Shows(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The cluster's URI with a password in its user part (the cluster trusts its socket, so any password does).
static std::string WithPassword(std::string uri, const std::string& userPart) {
    return uri.replace(0, std::string("postgresql://").size(), "postgresql://qvtest:" + userPart + "@");
}

TEST(StoreSecrets, PrintableNameComesFromLibpqsReadingAndNeitherLogNorErrorNorPsShowsThePassword) {
    const std::pair<const char*, const char*> read[] = {
        {"postgresql://qv:Zq7?x@db/q", "postgresql://qv@db/q"},
        {"postgresql://qv:Zq7%3Fa%2Fb%40c@db:5433/q", "postgresql://qv@db:5433/q"},
        {"postgresql://db/q?pass%77ord=Zq7&sslmode=require", "postgresql://db/q?sslmode=require"},
        {"postgresql://db/q?ssl%70assword=Zq7&options=-csearch_path%3Dquorvis",
         "postgresql://db/q?options=-csearch_path%3Dquorvis"},
        {"postgresql://[::1]:5432/q%0A?application_name=a%1Bb", "postgresql://[::1]:5432/q%0A?application_name=a%1Bb"},
        {"postgres://qv:Zq7@h1:5432,h2:5432/q?sslmode=verify-full",
         "postgres://qv@h1:5432,h2:5432/q?sslmode=verify-full"},
        {"postgresql:///q?host=/run/pg&password=Zq7&user=qv", "postgresql:///q?host=/run/pg&user=qv"},
        {"postgresql://db/q?password=Zq7&sslpassword=Zq7", "postgresql://db/q"},
        {"postgresql://qv:Zq7@", "postgresql://qv@"},
        {"postgresql://", "postgresql://"},
        {"/var/lib/qvservice/store.db", "/var/lib/qvservice/store.db"},
    };
    for (const auto& [store, printable] : read) EXPECT_EQ(server::PrintableStoreName(store), printable) << store;
    EXPECT_TRUE(server::IsPostgresStore("postgres://db/q"));
    EXPECT_FALSE(server::IsPostgresStore("postgresql.db"));
    // libpq would take a part of the first two passwords for the host or the database.
    for (const char* unread :
         {"postgresql://qv:p@Zq7@db/q", "postgresql://qv:Zq7/x@db/q", "postgresql://qv:Zq7%zz@db/q"})
        EXPECT_FALSE(Shows(server::PrintableStoreName(unread), kSecret)) << unread;

    std::string arguments[] = {"qvservice", "--store", "postgresql://qv:Zq7?x@db/q",
                               "--store=postgres://db/q?password=Zq7"};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data()};
    server::HideStorePasswords(4, argv);
    EXPECT_STREQ(argv[2], "postgresql://qv@db/q");
    EXPECT_STREQ(argv[3], "--store=postgres://db/q");

    QV_REQUIRE_POSTGRES();
    const std::string database = PostgresCluster::Shared().NewDatabase();
    const std::string store = WithPassword(database, "Zq7%3Fa%2Fb%40c?d") + "&pass%77ord=Zq7";
    ASSERT_EQ(RunQvservice({"init", "--store", store}).exitCode, 0);
    {
        ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0"});
        service.ListeningAddress();
        EXPECT_TRUE(Shows(service.Log(), "store postgresql://") && !Shows(service.Log(), kSecret)) << service.Log();
        const std::string commandLine = ReadFile("/proc/" + std::to_string(service.Pid()) + "/cmdline");
        EXPECT_TRUE(Shows(commandLine, "serve") && !Shows(commandLine, kSecret)) << commandLine;
    }
    const std::string missing = std::string(database).insert(database.find('?'), "_missing");
    for (const std::string& bad : {WithPassword(missing, "Zq7?x") + "&pass%77ord=Zq7", WithPassword(missing, "p@Zq7"),
                                   WithPassword(missing, "Zq7/x")}) {
        const ToolResult refused = RunQvservice({"init", "--store", bad});
        EXPECT_EQ(refused.exitCode, 1) << bad;
        EXPECT_TRUE(Shows(refused.err, "cannot connect to the store") && !Shows(refused.err, kSecret)) << refused.err;
    }
}

static const qv::ActivityRecord kRecord{"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20};

// The writers' lock is held by a write transaction of the cluster's owner, as an import in progress does.
TEST(SecureDefaults, InitServeAndDemoRespectAnImportInProgress) {
    QV_REQUIRE_POSTGRES();
    const std::string store = PostgresCluster::Shared().NewDatabase(), empty = PostgresCluster::Shared().NewDatabase();
    WriteRecords(store, {kRecord});
    const std::string role = "reader_" + store.substr(store.find("qv_"), store.find('?') - store.find("qv_"));
    const auto owner = server::OpenStore(store, Database::Mode::Create);
    owner->Exec("CREATE ROLE " + role + " LOGIN; GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + role);
    const std::string reader = store.substr(0, store.find("&user=")) + "&user=" + role;
    const auto importer = server::OpenStore(empty, Database::Mode::Create);
    server::Transaction lock(*owner, server::Transaction::Kind::Write);
    server::Transaction import(*importer, server::Transaction::Kind::Write);

    ServiceProcess init({"init", "--store", reader});  // bounded: one that waits for the lock is stopped
    EXPECT_EQ(init.WaitForExit(), 0) << init.Log();
    ServiceProcess serve({"serve", "--store", reader, "--listen", "127.0.0.1:0"});
    EXPECT_NE(serve.WaitUntilListening(), "") << serve.Log();
    EXPECT_EQ(serve.Stop(SIGTERM), 0) << serve.Log();

    // Once the demo waits for the lock, the import fills the store.
    ServiceProcess demo({"demo", "--store", empty, "--records", "100"});
    const auto watcher = server::OpenStore(empty, Database::Mode::ReadOnly);
    const char* waiting = "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted";
    for (int i = 0; i < 1500 && One(*watcher, waiting) <= 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(One(*watcher, waiting), 0) << demo.Log();
    server::PrepareSchema(*importer);
    server::RecordWriter writer(*importer);
    writer.Add(kRecord);
    writer.Finish();
    import.Commit();
    EXPECT_EQ(demo.WaitForExit(), 1) << demo.Log();
    EXPECT_NE(demo.Log().find("holds a store already"), std::string::npos) << demo.Log();
    EXPECT_EQ(One(*watcher, "SELECT count(*) FROM activity"), 1);
}

}  // namespace qv::test
