// qvreport end to end against a real qvservice: files checked against sums by hand, the ways it refuses to write, TLS,
// and PostgreSQL stores (a database that dies and comes back, two imports at once).
#include "cli/report_options.h"
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
#include <set>

namespace {

using namespace qv::test;
using qv::ActivityRecord;

struct Report {
    int exitCode = -1;
    QString err;
    QByteArray html, csv;
};

Report Qvreport(const QStringList& arguments) {
    // Qt's own note on a missing runtime folder is no line of qvreport's.
    static const TempDir runtime;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.Path()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QVREPORT_PATH), arguments);
    process.waitForFinished(120'000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError()),
            {},
            {}};
}

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

// An item over all time on the server.
QStringList Args(const QString& server, const QString& tree, const QString& path) {
    return {"--server", server,   "--tree",           tree,   "--path",          path, "--period",
            "custom",   "--from", "2000-01-01 00:00", "--to", "2100-01-01 00:00"};
}

// One qvreport run writing both formats, each run in a folder of its own.
Report RunReport(const QStringList& args) {
    const TempDir dir;
    const std::string html = dir.File("r.htm"), csv = dir.File("r.csv");
    Report run =
        Qvreport(args + QStringList{"--html", QString::fromStdString(html), "--csv", QString::fromStdString(csv)});
    run.html = QByteArray::fromStdString(ReadFile(html));
    run.csv = QByteArray::fromStdString(ReadFile(csv));
    return run;
}

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

TEST_F(QvreportTest, WritesEveryRowWithTheRecordsTotalsAndRefusesWithAClearMessageWritingNothing) {
    const Report titles = RunReport(Args(address_, "users", "anna/WS-01/Web Browser"));
    const Report users = RunReport(Args(address_, "applications", "Web Browser"));
    for (const Report* report : {&titles, &users}) ASSERT_EQ(report->exitCode, 0) << report->err.toStdString();
    ExpectCsv(titles.csv, "Window Title,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events",
              {"<script>alert(1)</script>,04:57 hours,17820000,2068,2464\r", "Inbox,01:42 hours,6120000,715,851\r"});
    ExpectCsv(users.csv, "User Name,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events",
              {"anna,10:30 hours,37800000,4400,5240\r", "ben,05:15 hours,18900000,2200,2620\r"});

    // The same table as the viewer's export (its escaping is the export's golden pages'), the caption as title.
    EXPECT_TRUE(titles.html.contains("<title>Web Browser (anna on WS-01)</title>\r\n"));
    EXPECT_TRUE(titles.html.contains("<td><font size=\"2\">&lt;script&gt;alert(1)&lt;/script&gt;</font></td>\r\n"));

    const QString out = Out("never.htm");
    const QStringList anna = Args(address_, "users", "anna");
    const struct {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {Args(address_, "users", "anna/WS-09") + QStringList{"--html", out}, 1, "no item \"WS-09\" under \"anna\""},
        // The missing item's message lists the names there are, escaped.
        {Args(address_, "users", "nobody") + QStringList{"--html", out}, 1, R"(evil\x1B]0;owned\x07\x1B[2J)"},
        {Args(address_, "users", "nobody") + QStringList{"--html", out}, 1, R"(bidi\u202Eexe.txt)"},
        {anna + QStringList{"--html", "/etc/passwd/r.htm"}, 1, "/etc/passwd/r.htm"},
        {{"--server", address_, "--tree", "people", "--path", "anna", "--period", "year", "--html", out}, 2, "usage:"},
        // Client certificate and key go together, and need a CA.
        {anna + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-ca", "ca.pem"}, 2, "usage:"},
        {anna + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-key", "a.key"}, 2, "usage:"},
    };
    for (const auto& c : cases) {
        const Report run = Qvreport(c.args);
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

// qvreport over TLS with the hive's files, through the viewer's document and tree loaders: the same report as over
// plain text; each failed secure connection ends in exit 1 and one line.
class QvreportTlsTest : public QvreportTest {
protected:
    // A service on a free loopback port; "localhost:PORT" for the host name its certificate carries.
    QString ServeTls(const QString& certificate) {
        services_.push_back(
            Serve(dir_.File("store.db"), {"--tls-cert", Cert(certificate + ".pem").toStdString(), "--tls-key",
                                          Cert(certificate + ".key").toStdString(), "--client-ca",
                                          Cert("test-ca.pem").toStdString(), "--allow", "alice"}));
        const std::string address = services_.back()->ListeningAddress();
        return QStringLiteral("localhost") + QString::fromStdString(address.substr(address.rfind(':')));
    }

    QString Cert(const QString& name) const { return certs_ + "/" + name; }

    QStringList Tls(const QString& ca, const QString& client = {}) const {
        QStringList args = {"--tls-ca", Cert(ca)};
        if (!client.isEmpty()) args << "--tls-cert" << Cert(client + ".pem") << "--tls-key" << Cert(client + ".key");
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
    const Report overPlain = RunReport(Args(plain, "computers", "WS-01/anna"));
    const Report overTls = RunReport(Args(secure, "computers", "WS-01/anna") + alice);
    for (const Report* report : {&overPlain, &overTls}) ASSERT_EQ(report->exitCode, 0) << report->err.toStdString();
    EXPECT_TRUE(overTls.err.isEmpty()) << overTls.err.toStdString();
    EXPECT_TRUE(overPlain.html.contains("Web Browser"));
    EXPECT_EQ(overTls.html, overPlain.html);

    const struct {
        const char* what;
        QString server;
        QStringList tls;
        const char* says;
    } cases[] = {
        {"TLS to a plain service", plain, alice, "is not available"},
        {"plain text to a TLS service", secure, {}, "is not available"},
        {"unknown CA", secure, Tls("test-other-ca.pem", "test-client-alice"), "is not available"},
        {"name mismatch", otherName, alice, "is not available"},
        {"expired certificate", expired, alice, "is not available"},
        {"client certificate of another CA", secure, Tls("test-ca.pem", "test-client-other-ca"), "is not available"},
        {"no client certificate", secure, Tls("test-ca.pem"), "Access is denied"},
        {"no CA file", secure, Tls("none.pem", "test-client-alice"), "none.pem"},
    };
    for (const auto& c : cases) {
        const Report run =
            Qvreport(Args(c.server, "users", "anna/WS-01") + QStringList{"--html", Out("x.htm")} + c.tls);
        EXPECT_TRUE(run.exitCode == 1 && run.err.startsWith("qvreport: ") && run.err.count('\n') == 1 &&
                    run.err.contains(c.says))
            << c.what << ", exit " << run.exitCode << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(Out("x.htm"))) << c.what;
    }
}

constexpr std::int64_t kMar2025 = 1'740'787'200'000;  // 2025-03-01T00:00:00Z
constexpr std::int64_t kThreeDays = 3 * 86'400'000LL;
constexpr const char* kPassword = "s3cret-pw";

std::vector<ActivityRecord> Records(unsigned seed, std::size_t count) {
    std::mt19937_64 random(seed);
    return RandomRecords(random, count, kMar2025, kMar2025 + kThreeDays);
}

ToolResult Import(const std::string& store, const std::string& csv, const std::vector<ActivityRecord>& records) {
    WriteFile(csv, RecordsCsv(records));
    return RunQvservice({"import", "--store", store, csv});
}

TEST(QvreportPostgres, ALostDatabaseFailsClearlyAndTheServiceRecoversWithoutAPasswordInItsLog) {
    QV_REQUIRE_POSTGRES();
    PostgresCluster& cluster = PostgresCluster::Shared();
    const TempDir dir;
    std::string uri = cluster.NewDatabase();
    uri.replace(0, std::string("postgresql:///").size(), std::string("postgresql://qvtest:") + kPassword + "@/");
    const ToolResult imported = Import(uri, dir.File("records.csv"), Records(3, 300));
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ((imported.out + imported.err).find(kPassword), std::string::npos) << imported.out << imported.err;
    const auto service = Serve(uri);
    const QString address = QString::fromStdString(service->ListeningAddress());

    // The users tree loads first, so its request is the one to meet a dead connection.
    const QStringList what = Args(address, "users", "anna/WS-01");
    const Report before = RunReport(what);
    ASSERT_EQ(before.exitCode, 0) << before.err.toStdString();
    // Failures say the store failed, without the password; an idle connection may fail once after a restart.
    const auto recovers = [&](std::vector<Report> failed) {
        Report after = RunReport(what);
        if (after.exitCode != 0) {
            failed.push_back(after);
            after = RunReport(what);
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
    const Report whileDown = RunReport(what);
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

// Checked against the same records imported at once into SQLite (the engines' answers agree: the query oracle's).
TEST(QvreportPostgres, TwoImportsAtOnceAddUpInEveryReport) {
    QV_REQUIRE_POSTGRES();
    const auto lines = [](const QByteArray& csv) {
        const QList<QByteArray> all = csv.split('\n');
        return std::set<QByteArray>(all.begin(), all.end());
    };
    for (unsigned round = 0; round < 3; ++round) {
        const TempDir dir;
        const std::string postgres = PostgresCluster::Shared().NewDatabase(), sqlite = dir.File("store.db");
        std::vector<ActivityRecord> a = Records(100 + round, 3000), b = Records(200 + round, 3000);
        auto importA = std::async(std::launch::async, Import, postgres, dir.File("a.csv"), a);
        auto importB = std::async(std::launch::async, Import, postgres, dir.File("b.csv"), b);
        a.insert(a.end(), b.begin(), b.end());
        for (const ToolResult& imported : {importA.get(), importB.get(), Import(sqlite, dir.File("ab.csv"), a)})
            ASSERT_EQ(imported.exitCode, 0) << "round " << round << ": " << imported.err;

        // Per user of one program, and per computer of one user.
        const auto onPostgres = Serve(postgres), onSqlite = Serve(sqlite);
        for (const auto& [tree, path] : {std::pair{"applications", "Web Browser"}, {"users", "anna"}}) {
            const Report got = RunReport(Args(QString::fromStdString(onPostgres->ListeningAddress()), tree, path));
            const Report want = RunReport(Args(QString::fromStdString(onSqlite->ListeningAddress()), tree, path));
            ASSERT_TRUE(got.exitCode == 0 && want.exitCode == 0) << got.err.toStdString() << want.err.toStdString();
            EXPECT_GT(want.csv.count('\n'), 2) << want.csv.toStdString();
            EXPECT_EQ(lines(got.csv), lines(want.csv)) << "round " << round << "\n" << got.csv.toStdString();
        }
    }
}

}  // namespace
