// qvreport end to end against a real qvservice: files checked against sums by hand, and the ways it refuses to write.
#include "cli/report_options.h"
#include "tests/cli/qvreport_run.h"
#include "tests/service/lying_service.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace qv::test;

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

    // The same table as the viewer's export, with the caption as title and the monitored user's window title escaped.
    const QByteArray page = Read(html);
    EXPECT_TRUE(page.contains("<title>Web Browser (anna on WS-01)</title>\r\n"));
    EXPECT_TRUE(page.contains("<td><font size=\"2\">&lt;script&gt;alert(1)&lt;/script&gt;</font></td>\r\n"));
    EXPECT_FALSE(page.contains("<script>"));
    EXPECT_TRUE(page.endsWith("</html>\r\n"));
}

TEST_F(QvreportTest, RefusesWithAClearMessageAndWritesNothing) {
    LyingServer liar;
    ASSERT_FALSE(liar.Address().empty());
    const QString out = Out("never.htm");
    const QStringList year{"--tree", "users", "--path", "anna", "--period", "year", "--html", out};
    const QStringList atLiar = QStringList{"--server", QString::fromStdString(liar.Address())} + year;
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
        Behaviour lie = Behaviour::Good;
    };
    const Case cases[] = {
        {Args("users", "anna/WS-09") + QStringList{"--html", out}, 1, "no item \"WS-09\" under \"anna\""},
        // The missing item's message lists the names there are, escaped.
        {Args("users", "nobody") + QStringList{"--html", out}, 1, R"(evil\x1B]0;owned\x07\x1B[2J)"},
        {Args("users", "nobody") + QStringList{"--html", out}, 1, R"(bidi\u202Eexe.txt)"},
        {QStringList{"--server", "127.0.0.1:1"} + year, 1, "127.0.0.1:1"},
        {Args("users", "anna") + QStringList{"--html", "/etc/passwd/r.htm"}, 1, "/etc/passwd/r.htm"},
        {{"--server", address_, "--tree", "people", "--path", "anna", "--period", "year", "--html", out}, 2, "usage:"},
        // Client certificate and key go together, and need a CA.
        {Args("users", "anna") + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-ca", "ca.pem"}, 2, "usage:"},
        {Args("users", "anna") + QStringList{"--html", out, "--tls-cert", "a.pem", "--tls-key", "a.key"}, 2, "usage:"},
        {atLiar, 1, "3 values for 2 fields", Behaviour::WrongWidth},
    };
    for (const Case& c : cases) {
        liar.fake.behaviour = c.lie;
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

}  // namespace
