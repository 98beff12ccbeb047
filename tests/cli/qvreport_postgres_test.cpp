// qvreport against PostgreSQL stores, end to end: the same reports as from
// SQLite for the same CSV, two services on one database, a database that
// dies and comes back, two imports at once, and a store of a newer version.
#include "tests/support/postgres_cluster.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"
#include "tests/cli/qvreport_run.h"
#include "qvservice/import/csv_import.h"
#include "qvservice/store/store_database.h"

#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <utility>

namespace {

using namespace qv::test;
using qv::server::ActivityRecord;

constexpr std::int64_t kMar2025 = 1'740'787'200'000;  // 2025-03-01T00:00:00Z
constexpr std::int64_t kHourMs = 3'600'000;
constexpr std::int64_t kDays = 3;
constexpr const char* kPassword = "s3cret-pw";
const QStringList kAllTime{"--period", "custom", "--from", "2000-01-01 00:00", "--to", "2100-01-01 00:00"};

// Records over three days of March 2025 in whole seconds: every fifth
// crosses an hour edge (some of them midnight), every seventh lasts nothing,
// and one spans two days. exotic adds names that differ only in case, and
// titles that are not ASCII, not UTF-8, quoted with a comma, empty, padded,
// or hold a NUL byte.
std::vector<ActivityRecord> Records(unsigned seed, int count, bool exotic) {
    using namespace std::string_literals;
    std::vector<std::string> users{"anna", "ben", "carl"}, computers{"WS-01", "WS-02", "LAB-7"};
    std::vector<std::string> titles{"Inbox", "Report", "News", "Plan"};
    if (exotic) {
        users.insert(users.end(), {"\xC3\xA7" "a\xC4\x9F" "la", "Anna"});
        computers.push_back("ws-01");
        titles.insert(titles.end(), {"Gr\xC3\xB6\xC3\x9F" "e \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC", "bad \xFF byte",
                                     "a \"quoted\", title", "", "  padded  ", "nul\0inside"s});
    }
    const std::array<std::pair<const char*, const char*>, 3> programs{
        {{"browser.exe", "Web Browser"}, {"editor.exe", "Text Editor"}, {"mail.exe", "Mail"}}};
    std::mt19937_64 random(seed);
    std::vector<ActivityRecord> records;
    for (int i = 0; i < count; ++i) {
        const auto& [process, description] = programs[random() % programs.size()];
        ActivityRecord r{users[random() % users.size()], computers[random() % computers.size()], process, description,
                         titles[random() % titles.size()], 0, 0,
                         static_cast<std::int64_t>(random() % 500), static_cast<std::int64_t>(random() % 900)};
        const std::int64_t hour = static_cast<std::int64_t>(random() % (kDays * 24));
        if (i % 5 == 0) {
            r.startMs = kMar2025 + hour * kHourMs - static_cast<std::int64_t>(1 + random() % 600) * 1000;
            r.durationMs = static_cast<std::int64_t>(1000 + random() % 1'200'000);
        } else {
            r.startMs = kMar2025 + hour * kHourMs + static_cast<std::int64_t>(random() % 3000) * 1000;
            r.durationMs = static_cast<std::int64_t>(random() % 900'000);
        }
        if (i % 7 == 0) r.durationMs = 0;
        if (i == 1) r.durationMs = 2 * 24 * kHourMs + 1234;
        records.push_back(std::move(r));
    }
    return records;
}

std::string Quoted(const std::string& field) {
    std::string out = "\"";
    for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string WriteCsv(const TempDir& dir, const std::string& name, const std::vector<ActivityRecord>& records) {
    const std::string path = dir.File(name);
    std::ofstream out(path, std::ios::binary);
    out << qv::server::kCsvHeader << "\r\n";
    for (const ActivityRecord& r : records) {
        const std::time_t seconds = static_cast<std::time_t>(r.startMs / 1000);
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char start[32];
        std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%SZ", &utc);
        out << Quoted(r.user) << ',' << Quoted(r.computer) << ',' << Quoted(r.process) << ','
            << Quoted(r.description) << ',' << Quoted(r.windowTitle) << ',' << start << ',' << r.durationMs << ','
            << r.keyboardEvents << ',' << r.mouseEvents << "\r\n";
    }
    return path;
}

ToolResult Import(const std::string& store, const std::string& csv) {
    return RunQvservice({"import", "--store", store, csv});
}

struct Served {
    std::unique_ptr<ServiceProcess> process;
    QString address;  // empty when it did not start
};

Served Serve(const std::string& store, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"serve", "--store", store, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    Served served{std::make_unique<ServiceProcess>(args), {}};
    served.address = QString::fromStdString(served.process->WaitUntilListening());
    return served;
}

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

QStringList Item(const QString& tree, const QString& path, const QStringList& period = kAllTime) {
    return QStringList{"--tree", tree, "--path", path} + period;
}

struct Totals {
    std::int64_t ms = 0, keyboard = 0, mouse = 0;
    bool operator==(const Totals&) const = default;
};

// A report's CSV rows by their first cell; names hold no comma or quote.
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

bool SaysTheStoreFailed(const QString& err) {
    return err.contains("The service lost its connection to the store") ||
           err.contains("The service cannot reach its store");
}

}  // namespace

TEST(QvreportPostgres, ReportsEqualSqlitesByteForByteAndRefusedImportsAddNothing) {
    QV_REQUIRE_POSTGRES();
    const TempDir dir;
    const std::string csv = WriteCsv(dir, "records.csv", Records(7, 600, true));
    const std::string sqlite = dir.File("store.db"), postgres = PostgresCluster::Shared().NewDatabase();
    for (const std::string& store : {sqlite, postgres}) {
        const ToolResult imported = Import(store, csv);
        ASSERT_EQ(imported.exitCode, 0) << store << ": " << imported.err;
    }
    // Both refused before the comparisons, so that rows they added would show in them.
    const ToolResult again = Import(postgres, csv);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("imported before"), std::string::npos) << again.err;
    const std::string bad = WriteCsv(dir, "bad.csv", Records(8, 300, true));
    std::ofstream(bad, std::ios::app) << "anna,WS-01,browser.exe,Web Browser,x,2025-03-01T10:00:00Z,soon,0,0\r\n";
    const ToolResult badRow = Import(postgres, bad);
    EXPECT_EQ(badRow.exitCode, 1);
    EXPECT_NE(badRow.err.find("duration_ms is not a whole number"), std::string::npos) << badRow.err;

    const Served fromSqlite = Serve(sqlite), fromPostgres = Serve(postgres);
    ASSERT_FALSE(fromSqlite.address.isEmpty()) << fromSqlite.process->Log();
    ASSERT_FALSE(fromPostgres.address.isEmpty()) << fromPostgres.process->Log();
    const QString cagla = QString::fromUtf8("\xC3\xA7" "a\xC4\x9F" "la");
    const std::vector<std::pair<QString, QString>> items{
        {"users", "anna"},
        {"users", "anna/WS-01"},
        {"users", "anna/WS-01/Web Browser"},
        {"users", "Anna/ws-01/Web Browser"},
        {"users", cagla + "/LAB-7/Mail"},
        {"computers", "ws-01"},
        {"computers", "WS-02/ben/Text Editor"},
        {"applications", "Web Browser"},
        {"applications", "Mail/" + cagla}};
    const std::vector<QStringList> periods{
        kAllTime,
        {"--period", "custom", "--from", "2025-03-01 00:00", "--to", "2025-03-04 00:00"},
        {"--period", "custom", "--from", "2025-03-01 09:30", "--to", "2025-03-02 14:15"},
        {"--period", "custom", "--from", "2025-03-02 23:45", "--to", "2025-03-03 00:20"}};
    for (const auto& [tree, path] : items) {
        for (const QStringList& period : periods) {
            const QStringList what = Item(tree, path, period);
            const std::string label = what.join(' ').toStdString();
            const Report expected = RunReport(fromSqlite.address, what);
            const Report got = RunReport(fromPostgres.address, what);
            ASSERT_EQ(expected.exitCode, 0) << label << "\n" << expected.err.toStdString();
            ASSERT_EQ(got.exitCode, 0) << label << "\n" << got.err.toStdString();
            if (period == kAllTime) {
                EXPECT_GE(expected.csv.trimmed().count('\n'), 1) << label;  // a row below the header
            }
            EXPECT_EQ(got.html, expected.html) << label;
            EXPECT_EQ(got.csv, expected.csv) << label;
        }
    }
}

TEST(QvreportPostgres, TwoServicesOnOneDatabaseAnswerTwentyRunsAtOnceAlike) {
    QV_REQUIRE_POSTGRES();
    const TempDir dir;
    const std::string postgres = PostgresCluster::Shared().NewDatabase();
    const ToolResult imported = Import(postgres, WriteCsv(dir, "records.csv", Records(11, 2000, true)));
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    // Two connections for ten runs at once: most requests wait for one. The
    // runs share one caller, whose default limit of calls at once lets them in.
    const Served first = Serve(postgres, {"--db-connections", "2"});
    const Served second = Serve(postgres);
    ASSERT_FALSE(first.address.isEmpty()) << first.process->Log();
    ASSERT_FALSE(second.address.isEmpty()) << second.process->Log();

    constexpr int kRuns = 20;
    const QStringList what = Item("users", "anna/WS-01/Web Browser");
    std::vector<std::future<Report>> runs;
    for (int i = 0; i < kRuns; ++i)
        runs.push_back(std::async(std::launch::async, RunReport, (i % 2 ? first : second).address, what));
    std::vector<Report> reports;
    for (auto& run : runs) reports.push_back(run.get());
    ASSERT_FALSE(Rows(reports[0].csv).empty()) << reports[0].err.toStdString();
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(reports[i].exitCode, 0) << "run " << i << ": " << reports[i].err.toStdString();
        EXPECT_EQ(reports[i].html, reports[0].html) << "run " << i;
        EXPECT_EQ(reports[i].csv, reports[0].csv) << "run " << i;
    }
}

TEST(QvreportPostgres, ALostDatabaseFailsClearlyAndTheServiceRecoversWithoutAPasswordInItsLog) {
    QV_REQUIRE_POSTGRES();
    PostgresCluster& cluster = PostgresCluster::Shared();
    const TempDir dir;
    std::string uri = cluster.NewDatabase();
    uri.replace(0, std::string("postgresql:///").size(), std::string("postgresql://qvtest:") + kPassword + "@/");
    const ToolResult imported = Import(uri, WriteCsv(dir, "records.csv", Records(3, 300, false)));
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ((imported.out + imported.err).find(kPassword), std::string::npos) << imported.out << imported.err;
    Served service = Serve(uri);
    ASSERT_FALSE(service.address.isEmpty()) << service.process->Log();

    // The users tree loads first, so its request is the one to meet a dead connection.
    const QStringList what = Item("users", "anna/WS-01");
    const Report before = RunReport(service.address, what);
    ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
    // What failed says the store failed, in words without the password; a
    // connection left idle before the restart may fail the first request
    // after it, and the one after that gives the whole report again.
    const auto recovers = [&](std::vector<Report> failed) {
        Report after = RunReport(service.address, what);
        if (after.exitCode != 0) {
            failed.push_back(after);
            after = RunReport(service.address, what);
        }
        EXPECT_EQ(after.exitCode, 0) << after.err.toStdString();
        EXPECT_EQ(after.html, before.html);
        for (const Report& report : failed) {
            EXPECT_EQ(report.exitCode, 1);
            EXPECT_TRUE(SaysTheStoreFailed(report.err)) << report.err.toStdString();
            EXPECT_FALSE(report.err.contains(kPassword)) << report.err.toStdString();
        }
    };
    cluster.Kill();
    const Report whileDown = RunReport(service.address, what);
    cluster.Restart();
    recovers({whileDown});
    // Down and up again between two requests, with no request in between.
    cluster.Kill();
    cluster.Restart();
    recovers({});

    EXPECT_EQ(service.process->Stop(SIGTERM), 0);
    EXPECT_EQ(service.process->Log().find(kPassword), std::string::npos) << service.process->Log();
    EXPECT_NE(service.process->Log().find("qvtest@"), std::string::npos) << service.process->Log();
}

TEST(QvreportPostgres, TwoImportsAtOnceAddUpInEveryReport) {
    QV_REQUIRE_POSTGRES();
    constexpr unsigned kRounds = 3;
    for (unsigned round = 0; round < kRounds; ++round) {
        const TempDir dir;
        const std::string postgres = PostgresCluster::Shared().NewDatabase();
        const std::vector<ActivityRecord> a = Records(100 + round, 3000, false), b = Records(200 + round, 3000, false);
        const std::string csvA = WriteCsv(dir, "a.csv", a), csvB = WriteCsv(dir, "b.csv", b);
        auto importA = std::async(std::launch::async, Import, postgres, csvA);
        auto importB = std::async(std::launch::async, Import, postgres, csvB);
        for (const ToolResult& imported : {importA.get(), importB.get()})
            ASSERT_EQ(imported.exitCode, 0) << "round " << round << ": " << imported.err;

        // Per user of one program, and per title of one user's program on one computer.
        std::map<std::string, Totals> users, titles;
        const auto add = [](Totals& t, const ActivityRecord& r) {
            t.ms += r.durationMs, t.keyboard += r.keyboardEvents, t.mouse += r.mouseEvents;
        };
        for (const auto* records : {&a, &b}) {
            for (const ActivityRecord& r : *records) {
                if (r.description != "Web Browser") continue;
                add(users[r.user], r);
                if (r.user == "anna" && r.computer == "WS-01") add(titles[r.windowTitle], r);
            }
        }
        const Served service = Serve(postgres);
        ASSERT_FALSE(service.address.isEmpty()) << service.process->Log();
        const Report byUser = RunReport(service.address, Item("applications", "Web Browser"));
        const Report byTitle = RunReport(service.address, Item("users", "anna/WS-01/Web Browser"));
        ASSERT_EQ(byUser.exitCode, 0) << byUser.err.toStdString();
        ASSERT_EQ(byTitle.exitCode, 0) << byTitle.err.toStdString();
        EXPECT_EQ(Rows(byUser.csv), users) << "round " << round << "\n" << byUser.csv.toStdString();
        EXPECT_EQ(Rows(byTitle.csv), titles) << "round " << round << "\n" << byTitle.csv.toStdString();
    }
}

TEST(QvreportPostgres, AStoreOfANewerVersionIsRefused) {
    QV_REQUIRE_POSTGRES();
    const TempDir dir;
    const std::string postgres = PostgresCluster::Shared().NewDatabase();
    const ToolResult init = RunQvservice({"init", "--store", postgres});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    qv::server::OpenStore(postgres, qv::server::Database::Mode::ReadWrite)->SetSchemaVersion(2);

    const std::string newer = "holds a store of version 2, written by a newer qvservice";
    ServiceProcess serve({"serve", "--store", postgres, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(serve.WaitForExit(), 1) << serve.Log();
    EXPECT_NE(serve.Log().find(newer), std::string::npos) << serve.Log();
    const ToolResult imported = Import(postgres, WriteCsv(dir, "records.csv", Records(5, 10, false)));
    EXPECT_EQ(imported.exitCode, 1);
    EXPECT_NE(imported.err.find(newer), std::string::npos) << imported.err;
}
