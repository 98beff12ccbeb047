// The PostgreSQL store against a throw-away cluster.
#include "qvservice/store/postgres/postgres_db.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <csignal>
#include <limits>

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

TEST(PostgresDb, ParametersAndValuesRoundTripByteForByte) {
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
}

TEST(PostgresDb, ErrorsNameTheStoreNeverThePasswordAndALostConnectionSaysSo) {
    QV_REQUIRE_POSTGRES();
    const std::string uri = PostgresCluster::Shared().NewDatabase();
    const auto db = Open(uri);
    const StoreError missing = Failure([&] { Statement(*db, "SELECT * FROM missing").Step(); });
    EXPECT_EQ(missing.what(), std::string(kName) + ": relation \"missing\" does not exist");
    EXPECT_EQ(missing.Reason(), StoreError::Kind::Failed);

    for (const std::string bad : {"postgresql://qvtest:pw-s3cret@/db?host=/nonexistent/qv",
                                  "postgresql://qvtest:pw-s3cret%zz@/db?host=/nonexistent/qv",
                                  "postgresql://qvtest@/db?host=/nonexistent/qv&password=pw-s3cret&no=such"}) {
        const StoreError refused = Failure([&] { Open(bad); });
        EXPECT_EQ(refused.Reason(), StoreError::Kind::Unreachable);
        EXPECT_EQ(std::string(refused.what()).rfind("cannot connect to the store "s + kName + ": ", 0), 0u)
            << refused.what();
        EXPECT_EQ(std::string(refused.what()).find("s3cret"), std::string::npos) << refused.what();
    }

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
    EXPECT_EQ(std::string(lost.what()).rfind(kName + ": the connection to the database was lost ("s, 0), 0u)
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

TEST(PostgresDb, BulkLoadsFlushInBatchesBetweenOtherStatements) {
    QV_REQUIRE_POSTGRES();
    const auto db = Open(PostgresCluster::Shared().NewDatabase());
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

}  // namespace qv::test
