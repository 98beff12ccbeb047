// Safe unless told otherwise: serve reaches no further than loopback and
// trusts no claimed name without a flag that owns up to it; init and demo
// respect a store that other hosts write.
#include "qvservice/model/record_writer.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/rpc/service_host.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace qv::test {
namespace {

using server::Database;
using server::Statement;
using server::Transaction;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string SmallStore(const TempDir& dir) {
    const std::string path = dir.File("store.db");
    WriteRecords(path, {{"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20}});
    return path;
}

TEST(SecureDefaults, OnlyLoopbackUnlessCallersAreAuthenticatedOrInsecureIsGiven) {
    EXPECT_EQ(server::ParseListenAddress("").host, "127.0.0.1");

    TempDir dir;
    // Bounded: a service that starts instead of refusing is killed.
    ServiceProcess open({"serve", "--store", SmallStore(dir), "--listen", "0.0.0.0:0"});
    EXPECT_EQ(open.WaitForExit(std::chrono::seconds(30)), 1) << open.Log();
    for (const char* add : {"--client-ca", "--insecure", "127.0.0.1"}) EXPECT_TRUE(Contains(open.Log(), add)) << open.Log();

    server::ServeOptions options;
    options.listen = "[::]:47913";
    options.tlsCertFile = "s.pem";
    options.tlsKeyFile = "s.key";
    EXPECT_THROW(server::CheckServeSecurity(options), std::runtime_error) << "TLS alone authenticates nobody";
    options.insecure = true;
    const auto warnings = server::CheckServeSecurity(options);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(Contains(warnings[0], "--insecure")) << warnings[0];
    options.insecure = false;
    options.clientCaFile = "ca.pem";
    EXPECT_TRUE(server::CheckServeSecurity(options).empty());
}

TEST(SecureDefaults, ClaimedNamesOnLoopbackNeedTrustClaimedNames) {
    TempDir dir;
    ServiceProcess local({"serve", "--store", SmallStore(dir), "--listen", "127.0.0.1:0", "--allow", "anna"});
    EXPECT_EQ(local.WaitForExit(std::chrono::seconds(30)), 1) << local.Log();
    EXPECT_TRUE(Contains(local.Log(), "any user of this machine")) << local.Log();
    EXPECT_TRUE(Contains(local.Log(), "--trust-claimed-names")) << local.Log();
}

// A connection of the cluster's owner that holds the writers' lock, as an
// import in progress does.
struct HeldWritersLock {
    explicit HeldWritersLock(const std::string& store)
        : db(server::OpenStore(store, Database::Mode::Create)), transaction(*db, Transaction::Kind::Write) {}
    std::unique_ptr<Database> db;
    Transaction transaction;
};

TEST(SecureDefaults, InitAndServeOnlyReadAStoreThatIsRight) {
    QV_REQUIRE_POSTGRES();
    const std::string store = PostgresCluster::Shared().NewDatabase();
    WriteRecords(store, {{"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20}});
    const std::string role = "reader_" + store.substr(store.find("qv_"), store.find('?') - store.find("qv_"));
    server::OpenStore(store, Database::Mode::Create)
        ->Exec("CREATE ROLE " + role + " LOGIN; GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + role);
    const std::string reader = store.substr(0, store.find("&user=")) + "&user=" + role;

    HeldWritersLock import(store);
    ServiceProcess init({"init", "--store", reader});
    EXPECT_EQ(init.WaitForExit(std::chrono::seconds(30)), 0) << init.Log();
    ServiceProcess serve({"serve", "--store", reader, "--listen", "127.0.0.1:0"});
    EXPECT_NE(serve.WaitUntilListening(), "") << serve.Log();
    EXPECT_EQ(serve.Stop(SIGTERM), 0) << serve.Log();
}

TEST(SecureDefaults, DemoLooksForAStoreOnlyUnderTheWritersLock) {
    QV_REQUIRE_POSTGRES();
    const std::string store = PostgresCluster::Shared().NewDatabase();
    HeldWritersLock import(store);
    ServiceProcess demo({"demo", "--store", store, "--records", "100"});

    // Once the demo waits for the lock, the import fills the store.
    const auto watcher = server::OpenStore(store, Database::Mode::ReadOnly);
    const auto demoWaits = [&] {
        Statement waiting(*watcher, "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted");
        return waiting.Step() && waiting.Int64(0) > 0;
    };
    for (int i = 0; i < 1500 && !demoWaits(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(demoWaits()) << demo.Log();
    server::PrepareSchema(*import.db);
    server::RecordWriter writer(*import.db);
    writer.Add({"anna", "WS-01", "cmd.exe", "", "x", 1'700'000'000'000, 60'000, 10, 20});
    writer.Finish();
    import.transaction.Commit();

    EXPECT_EQ(demo.WaitForExit(std::chrono::seconds(30)), 1) << demo.Log();
    EXPECT_TRUE(Contains(demo.Log(), "holds a store already")) << demo.Log();
    Statement count(*watcher, "SELECT count(*) FROM activity");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int64(0), 1);
}

}  // namespace
}  // namespace qv::test
