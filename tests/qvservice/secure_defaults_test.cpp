// Init, serve and demo respect a store that other hosts write.
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace qv;
using namespace qv::test;
using server::Database;

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
    const auto count = [&](const char* sql) {
        server::Statement statement(*watcher, sql);
        return statement.Step() ? statement.Int64(0) : -1;
    };
    const char* waiting = "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted";
    for (int i = 0; i < 1500 && count(waiting) <= 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(count(waiting), 0) << demo.Log();
    server::PrepareSchema(*importer);
    server::RecordWriter writer(*importer);
    writer.Add(kRecord);
    writer.Finish();
    import.Commit();
    EXPECT_EQ(demo.WaitForExit(), 1) << demo.Log();
    EXPECT_NE(demo.Log().find("holds a store already"), std::string::npos) << demo.Log();
    EXPECT_EQ(count("SELECT count(*) FROM activity"), 1);
}
