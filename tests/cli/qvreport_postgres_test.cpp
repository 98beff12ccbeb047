// qvreport on PostgreSQL stores: a database that dies and comes back, two imports at once, a newer store.
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "tests/cli/qvreport_run.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/random_records.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>

namespace {

using namespace qv::test;
using qv::ActivityRecord;

constexpr std::int64_t kMar2025 = 1'740'787'200'000;  // 2025-03-01T00:00:00Z
constexpr std::int64_t kThreeDays = 3 * 86'400'000LL;
constexpr const char* kPassword = "s3cret-pw";
const QStringList kAllTime{"--period", "custom", "--from", "2000-01-01 00:00", "--to", "2100-01-01 00:00"};

std::string WriteCsv(const TempDir& dir, const std::string& name, const std::vector<ActivityRecord>& records) {
    WriteFile(dir.File(name), RecordsCsv(records));
    return dir.File(name);
}

std::vector<ActivityRecord> Records(unsigned seed, std::size_t count) {
    std::mt19937_64 random(seed);
    return RandomRecords(random, count, kMar2025, kMar2025 + kThreeDays);
}

ToolResult Import(const std::string& store, const std::string& csv) {
    return RunQvservice({"import", "--store", store, csv});
}

QString Address(ServiceProcess& service) { return QString::fromStdString(service.ListeningAddress()); }

struct Report {
    int exitCode = -1;
    QString err;
    QByteArray html, csv;
};

// One qvreport run writing both formats, each run in a folder of its own.
Report RunReport(const QString& address, const QStringList& what) {
    const TempDir dir;
    const QString html = QString::fromStdString(dir.File("r.htm")), csv = QString::fromStdString(dir.File("r.csv"));
    const ToolRun run = Qvreport(QStringList{"--server", address} + what + QStringList{"--html", html, "--csv", csv});
    return {run.exitCode, run.err, Read(html), Read(csv)};
}

QStringList Item(const QString& tree, const QString& path) {
    return QStringList{"--tree", tree, "--path", path} + kAllTime;
}

struct Totals {
    std::int64_t ms = 0, keyboard = 0, mouse = 0;
    bool operator==(const Totals&) const = default;
};

// A report's CSV rows by their first cell, for names without comma or quote.
std::map<std::string, Totals> Rows(const QByteArray& csv) {
    std::map<std::string, Totals> rows;
    const QList<QByteArray> lines = csv.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].trimmed().split(',');
        if (cells.size() == 5)
            rows[cells[0].toStdString()] = {cells[2].toLongLong(), cells[3].toLongLong(), cells[4].toLongLong()};
    }
    return rows;
}

}  // namespace

TEST(QvreportPostgres, ALostDatabaseFailsClearlyAndTheServiceRecoversWithoutAPasswordInItsLog) {
    QV_REQUIRE_POSTGRES();
    PostgresCluster& cluster = PostgresCluster::Shared();
    const TempDir dir;
    std::string uri = cluster.NewDatabase();
    uri.replace(0, std::string("postgresql:///").size(), std::string("postgresql://qvtest:") + kPassword + "@/");
    const ToolResult imported = Import(uri, WriteCsv(dir, "records.csv", Records(3, 300)));
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ((imported.out + imported.err).find(kPassword), std::string::npos) << imported.out << imported.err;
    const auto service = Serve(uri);
    const QString address = Address(*service);

    // The users tree loads first, so its request is the one to meet a dead connection.
    const QStringList what = Item("users", "anna/WS-01");
    const Report before = RunReport(address, what);
    ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
    // Failures say the store failed, without the password; an idle connection may fail once after a restart.
    const auto recovers = [&](std::vector<Report> failed) {
        Report after = RunReport(address, what);
        if (after.exitCode != 0) {
            failed.push_back(after);
            after = RunReport(address, what);
        }
        EXPECT_EQ(after.exitCode, 0) << after.err.toStdString();
        EXPECT_EQ(after.html, before.html);
        for (const Report& report : failed) {
            EXPECT_EQ(report.exitCode, 1);
            EXPECT_TRUE(report.err.contains("The service lost its connection to the store") ||
                        report.err.contains("The service cannot reach its store"))
                << report.err.toStdString();
            EXPECT_FALSE(report.err.contains(kPassword)) << report.err.toStdString();
        }
    };
    cluster.Kill();
    const Report whileDown = RunReport(address, what);
    cluster.Restart();
    recovers({whileDown});
    // Down and up again between two requests, with no request in between.
    cluster.Kill();
    cluster.Restart();
    recovers({});

    EXPECT_EQ(service->Stop(SIGTERM), 0);
    EXPECT_EQ(service->Log().find(kPassword), std::string::npos) << service->Log();
    EXPECT_NE(service->Log().find("user=qvtest"), std::string::npos) << service->Log();
}

// Checked against sums of the records, and the titles (every kind of awkward byte) against the same files in SQLite.
TEST(QvreportPostgres, TwoImportsAtOnceAddUpInEveryReport) {
    QV_REQUIRE_POSTGRES();
    for (unsigned round = 0; round < 3; ++round) {
        const TempDir dir;
        const std::string postgres = PostgresCluster::Shared().NewDatabase(), sqlite = dir.File("store.db");
        const std::vector<ActivityRecord> a = Records(100 + round, 3000), b = Records(200 + round, 3000);
        const std::string csvA = WriteCsv(dir, "a.csv", a), csvB = WriteCsv(dir, "b.csv", b);
        auto importA = std::async(std::launch::async, Import, postgres, csvA);
        auto importB = std::async(std::launch::async, Import, postgres, csvB);
        for (const ToolResult& imported : {importA.get(), importB.get(), Import(sqlite, csvA), Import(sqlite, csvB)})
            ASSERT_EQ(imported.exitCode, 0) << "round " << round << ": " << imported.err;

        // Per user of one program, and per computer of one user.
        std::map<std::string, Totals> users, computers;
        const auto add = [](Totals& t, const ActivityRecord& r) {
            t.ms += r.durationMs, t.keyboard += r.keyboardEvents, t.mouse += r.mouseEvents;
        };
        for (const auto* records : {&a, &b}) {
            for (const ActivityRecord& r : *records) {
                if (r.description == "Web Browser") add(users[r.user], r);
                if (r.user == "anna") add(computers[r.computer], r);
            }
        }
        const auto service = Serve(postgres), reference = Serve(sqlite);
        const QString address = Address(*service), referenceAddress = Address(*reference);
        const Report byUser = RunReport(address, Item("applications", "Web Browser"));
        const Report byComputer = RunReport(address, Item("users", "anna"));
        const Report byTitle = RunReport(address, Item("users", "anna/WS-01/Web Browser"));
        for (const Report* report : {&byUser, &byComputer, &byTitle})
            ASSERT_EQ(report->exitCode, 0) << report->err.toStdString();
        EXPECT_EQ(Rows(byUser.csv), users) << "round " << round << "\n" << byUser.csv.toStdString();
        EXPECT_EQ(Rows(byComputer.csv), computers) << "round " << round << "\n" << byComputer.csv.toStdString();
        EXPECT_EQ(byTitle.csv, RunReport(referenceAddress, Item("users", "anna/WS-01/Web Browser")).csv)
            << "round " << round;
    }
}

TEST(QvreportPostgres, AStoreOfANewerVersionIsRefused) {
    QV_REQUIRE_POSTGRES();
    const TempDir dir;
    const std::string postgres = PostgresCluster::Shared().NewDatabase();
    const ToolResult init = RunQvservice({"init", "--store", postgres});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    qv::server::OpenStore(postgres, qv::server::Database::Mode::ReadWrite)
        ->SetSchemaVersion(qv::server::kStoreVersion + 1);

    const std::string newer =
        "holds a store of version " + std::to_string(qv::server::kStoreVersion + 1) + ", written by a newer qvservice";
    const auto serve = Serve(postgres);
    EXPECT_EQ(serve->WaitForExit(), 1) << serve->Log();
    EXPECT_NE(serve->Log().find(newer), std::string::npos) << serve->Log();
    const ToolResult imported = Import(postgres, WriteCsv(dir, "records.csv", Records(5, 10)));
    EXPECT_EQ(imported.exitCode, 1);
    EXPECT_NE(imported.err.find(newer), std::string::npos) << imported.err;
}
