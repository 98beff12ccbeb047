// qvreport end to end against a real qvservice: files checked against sums by hand, the ways it refuses to write, TLS,
// and PostgreSQL stores (a database that dies and comes back, two imports at once, a newer store).
#include "cli/report_options.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/store/store_database.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/random_records.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <set>

namespace {

using namespace qv::test;
using qv::ActivityRecord;

struct ToolRun {
    int exitCode;
    QString err;
};

ToolRun Qvreport(const QStringList& arguments) {
    // Qt's own note on a missing runtime folder is no line of qvreport's.
    static const TempDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.Path()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QVREPORT_PATH), arguments);
    process.waitForFinished(120'000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

class QvreportTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<qv::ActivityRecord> records;
        for (int i = 0; i < 40; ++i)
            records.push_back({i % 2 ? "anna" : "ben", i % 3 ? "WS-01" : "WS-02", i % 4 ? "browser.exe" : "editor.exe",
                               i % 4 ? "Web Browser" : "Text Editor", i % 5 ? "<script>alert(1)</script>" : "Inbox",
                               kJan2025 + i * 600'000LL, 90'000LL * (i + 1), i * 11, i * 13 + 2});
        for (const char* user : {"evil\x1b]0;owned\x07\x1b[2J", "bidi\u202Eexe.txt"})  // names to escape
            records.push_back({user, "WS-01", "a.exe", "A", "t", kJan2025, 1000, 1, 1});
        WriteRecords(dir_.File("store.db"), records);
        service_ = Serve(dir_.File("store.db"));
        address_ = QString::fromStdString(service_->ListeningAddress());
    }

    QStringList Args(const QString& tree, const QString& path, QString server = {}) const {
        if (server.isEmpty()) server = address_;
        return {"--server", server,   "--tree",           tree,   "--path",          path, "--period",
                "custom",   "--from", "2024-12-31 00:00", "--to", "2025-01-03 00:00"};
    }

    QString Out(const char* name) const { return QString::fromStdString(dir_.File(name)); }

    TempDir dir_;
    std::unique_ptr<ServiceProcess> service_;
    QString address_;
};

// A report's CSV: its header, then its rows in any order.
void ExpectCsv(const QByteArray& csv, const QByteArray& header, const std::set<QByteArray>& rows) {
    QList<QByteArray> lines = csv.split('\n');
    ASSERT_GE(lines.size(), 2) << csv.toStdString();
    EXPECT_EQ(lines.takeFirst(), header + "\r");
    EXPECT_EQ(lines.takeLast(), "");
    EXPECT_EQ(std::set<QByteArray>(lines.begin(), lines.end()), rows) << csv.toStdString();
}

TEST_F(QvreportTest, WritesEveryRowWithTheRecordsTotals) {
    const QString html = Out("r.htm"), csv = Out("r.csv"), usersCsv = Out("users.csv");
    ToolRun run = Qvreport(Args("users", "anna/WS-01/Web Browser") + QStringList{"--html", html, "--csv", csv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectCsv(Read(csv), "Window Title,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events",
              {"<script>alert(1)</script>,04:57 hours,17820000,2068,2464\r", "Inbox,01:42 hours,6120000,715,851\r"});
    run = Qvreport(Args("applications", "Web Browser") + QStringList{"--csv", usersCsv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectCsv(Read(usersCsv), "User Name,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events",
              {"anna,10:30 hours,37800000,4400,5240\r", "ben,05:15 hours,18900000,2200,2620\r"});

    // The same table as the viewer's export (its escaping is the export's golden pages'), the caption as title.
    const QByteArray page = Read(html);
    EXPECT_TRUE(page.contains("<title>Web Browser (anna on WS-01)</title>\r\n"));
    EXPECT_TRUE(page.contains("<td><font size=\"2\">&lt;script&gt;alert(1)&lt;/script&gt;</font></td>\r\n"));
}

TEST_F(QvreportTest, RefusesWithAClearMessageAndWritesNothing) {
    const QString out = Out("never.htm");
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {Args("users", "anna/WS-09") + QStringList{"--html", out}, 1, "no item \"WS-09\" under \"anna\""},
        // The missing item's message lists the names there are, escaped.
        {Args("users", "nobody") + QStringList{"--html", out}, 1, R"(evil\x1B]0;owned\x07\x1B[2J)"},
        {Args("users", "nobody") + QStringList{"--html", out}, 1, R"(bidi\u202Eexe.txt)"},
        {Args("users", "anna") + QStringList{"--html", "/etc/passwd/r.htm"}, 1, "/etc/passwd/r.htm"},
        {{"--server", address_, "--tree", "people", "--path", "anna", "--period", "year", "--html", out}, 2, "usage:"},
        // Client certificate and key go together, and need a CA.
        {Args("users", "anna") + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-ca", "ca.pem"}, 2, "usage:"},
        {Args("users", "anna") + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-key", "a.key"}, 2, "usage:"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Qvreport(c.args);
        EXPECT_TRUE(run.exitCode == c.exitCode && run.err.contains(c.says))
            << c.says << ", exit " << run.exitCode << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(out)) << c.says;
        for (const char16_t raw : {u'\x1b', u'\x07', u'\u202e'}) EXPECT_FALSE(run.err.contains(QChar(raw))) << int(raw);
    }
}

TEST(ReportOptions, ReadsPeriodsAndRefusesWhatCannotBeRight) {
    const QStringList base = {"--server", "s", "--tree", "computers", "--path", "WS-01/anna", "--html", "r.htm"};
    ParsedOptions parsed = ParseReportOptions(base + QStringList{"--period", "week"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->periodType, 1);
    EXPECT_EQ(parsed.options->path, (QStringList{"WS-01", "anna"}));

    parsed = ParseReportOptions(base +
                                QStringList{"--period", "custom", "--from", "2025-01-01 08:30", "--to", "2025-01-02"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_NEAR(parsed.options->to - parsed.options->from, 1.0 - 8.5 / 24, 1e-6);

    for (const QStringList& bad :
         {QStringList{"--period", "custom", "--from", "2025-01-02", "--to", "2025-01-01"},
          QStringList{"--period", "custom", "--from", "2025-02-30", "--to", "2025-03-01"},
          QStringList{"--period", "custom", "--from", "yesterday", "--to", "2025-03-01"},
          QStringList{"--period", "year", "--from", "2025-01-01"}, QStringList{"--period", "fortnight"}})
        EXPECT_FALSE(ParseReportOptions(base + bad).options) << bad.join(' ').toStdString();
    EXPECT_FALSE(
        ParseReportOptions({"--server", "s", "--tree", "users", "--path", "a//b", "--period", "year", "--csv", "x"})
            .options);
}

// qvreport over TLS: the same report as over plain text; each failed secure connection ends in exit 1 and one line.
class QvreportTlsTest : public QvreportTest {
protected:
    // A service on a free loopback port; "localhost:PORT" for the host name its certificate carries.
    QString ServeTls(const QString& certificate) {
        services_.push_back(Serve(dir_.File("store.db"),
                                  {"--tls-cert", Cert(certificate + ".pem"), "--tls-key", Cert(certificate + ".key"),
                                   "--client-ca", Cert("test-ca.pem"), "--allow", "alice"}));
        const std::string address = services_.back()->ListeningAddress();
        return QStringLiteral("localhost") + QString::fromStdString(address.substr(address.rfind(':')));
    }

    std::string Cert(const QString& name) const { return (certs_ + "/" + name).toStdString(); }

    QStringList Tls(const QString& ca, const QString& client = {}) const {
        QStringList args = {"--tls-ca", certs_ + "/" + ca};
        if (!client.isEmpty())
            args << "--tls-cert" << certs_ + "/" + client + ".pem"
                 << "--tls-key" << certs_ + "/" + client + ".key";
        return args;
    }

    const QString certs_ = QString::fromStdString(CopyTestCertificates(dir_));
    std::vector<std::unique_ptr<ServiceProcess>> services_;
};

TEST_F(QvreportTlsTest, WritesTheSameReportAsOverPlainTextAndEachFailureIsOneLineAndExitStatusOne) {
    const QString& plain = address_;
    const QString secure = ServeTls("test-server");
    const QString otherName = ServeTls("test-server-other-name");
    const QString expired = ServeTls("test-server-expired");
    const QStringList alice = Tls("test-ca.pem", "test-client-alice");
    const ToolRun overPlain = Qvreport(Args("users", "anna/WS-01") + QStringList{"--html", Out("plain.htm")});
    ASSERT_EQ(overPlain.exitCode, 0) << overPlain.err.toStdString();
    const ToolRun overTls =
        Qvreport(Args("users", "anna/WS-01", secure) + QStringList{"--html", Out("tls.htm")} + alice);
    ASSERT_EQ(overTls.exitCode, 0) << overTls.err.toStdString();
    EXPECT_TRUE(overTls.err.isEmpty()) << overTls.err.toStdString();
    EXPECT_TRUE(Read(Out("plain.htm")).contains("Web Browser"));
    EXPECT_EQ(Read(Out("tls.htm")), Read(Out("plain.htm")));

    struct Case {
        const char* what;
        QString server;
        QStringList tls;
        const char* says;
    };
    const Case cases[] = {
        {"TLS to a plain service", plain, alice, "is not available"},
        {"plain text to a TLS service", secure, {}, "is not available"},
        {"unknown CA", secure, Tls("test-other-ca.pem", "test-client-alice"), "is not available"},
        {"name mismatch", otherName, alice, "is not available"},
        {"expired certificate", expired, alice, "is not available"},
        {"client certificate of another CA", secure, Tls("test-ca.pem", "test-client-other-ca"), "is not available"},
        {"no client certificate", secure, Tls("test-ca.pem"), "Access is denied"},
        {"no CA file", secure, Tls("none.pem", "test-client-alice"), "none.pem"},
    };
    for (const Case& c : cases) {
        const ToolRun run =
            Qvreport(Args("users", "anna/WS-01", c.server) + QStringList{"--html", Out("x.htm")} + c.tls);
        EXPECT_TRUE(run.exitCode == 1 && run.err.startsWith("qvreport: ") && run.err.count('\n') == 1 &&
                    run.err.contains(c.says))
            << c.what << ", exit " << run.exitCode << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(Out("x.htm"))) << c.what;
    }
}

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

// Checked against sums of the records; the titles' bytes on PostgreSQL are the query oracle's.
TEST(QvreportPostgres, TwoImportsAtOnceAddUpInEveryReport) {
    QV_REQUIRE_POSTGRES();
    for (unsigned round = 0; round < 3; ++round) {
        const TempDir dir;
        const std::string postgres = PostgresCluster::Shared().NewDatabase();
        const std::vector<ActivityRecord> a = Records(100 + round, 3000), b = Records(200 + round, 3000);
        auto importA = std::async(std::launch::async, Import, postgres, WriteCsv(dir, "a.csv", a));
        auto importB = std::async(std::launch::async, Import, postgres, WriteCsv(dir, "b.csv", b));
        for (const ToolResult& imported : {importA.get(), importB.get()})
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
        const auto service = Serve(postgres);
        const QString address = Address(*service);
        const Report byUser = RunReport(address, Item("applications", "Web Browser"));
        const Report byComputer = RunReport(address, Item("users", "anna"));
        for (const Report* report : {&byUser, &byComputer}) ASSERT_EQ(report->exitCode, 0) << report->err.toStdString();
        EXPECT_EQ(Rows(byUser.csv), users) << "round " << round << "\n" << byUser.csv.toStdString();
        EXPECT_EQ(Rows(byComputer.csv), computers) << "round " << round << "\n" << byComputer.csv.toStdString();
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

}  // namespace
