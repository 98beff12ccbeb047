// A PostgreSQL store's password shows nowhere: not in its printable name, the log, an error or the command line.
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace qv::test {

using server::PrintableStoreName;

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
    for (const auto& [store, printable] : read) EXPECT_EQ(PrintableStoreName(store), printable) << store;
    EXPECT_TRUE(server::IsPostgresStore("postgres://db/q"));
    EXPECT_FALSE(server::IsPostgresStore("postgresql.db"));
    // libpq would take a part of the first two passwords for the host or the database.
    for (const char* unread :
         {"postgresql://qv:p@Zq7@db/q", "postgresql://qv:Zq7/x@db/q", "postgresql://qv:Zq7%zz@db/q"})
        EXPECT_FALSE(Shows(PrintableStoreName(unread), kSecret)) << unread;

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

}  // namespace qv::test
