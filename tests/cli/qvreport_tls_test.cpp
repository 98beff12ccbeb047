// qvreport over TLS against real qvservice processes: with the operator's
// client certificate it writes the very report it writes over plain text;
// each way a secure connection can fail ends in exit status 1 and one line
// that says why.
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"
#include "tests/cli/qvreport_run.h"

#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

class QvreportTlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        certs_ = QString::fromStdString(CopyTestCertificates(dir_));
        WriteRecords(dir_.File("store.db"),
                     {{"alice", "pc-1", "browser.exe", "Web Browser", "news", kJan2025, 60'000, 1, 2},
                      {"alice", "pc-1", "editor.exe", "Text Editor", "notes", kJan2025, 90'000, 3, 4},
                      {"bob", "pc-2", "browser.exe", "Web Browser", "mail", kJan2025, 30'000, 5, 6}});
    }

    // A service on a free loopback port; "localhost:PORT" for the host name
    // its certificate carries.
    QString Serve(const std::vector<std::string>& extra) {
        services_.push_back(qv::test::Serve(dir_.File("store.db"), extra));
        const std::string address = services_.back()->WaitUntilListening();
        EXPECT_FALSE(address.empty()) << services_.back()->Log();
        return QStringLiteral("localhost") + QString::fromStdString(address.substr(address.rfind(':')));
    }

    QString ServeTls(const QString& certificate) {
        return Serve({"--tls-cert", Cert(certificate + ".pem"), "--tls-key", Cert(certificate + ".key"), "--client-ca",
                      Cert("test-ca.pem"), "--allow", "alice"});
    }

    std::string Cert(const QString& name) const { return (certs_ + "/" + name).toStdString(); }

    QStringList Report(const QString& server, const QString& html) const {
        return {"--server", server, "--tree", "users", "--path", "alice/pc-1", "--period", "custom",
                "--from", "2024-12-31 00:00", "--to", "2025-01-03 00:00", "--html", html};
    }

    QStringList Tls(const QString& ca, const QString& client = {}) const {
        QStringList args = {"--tls-ca", certs_ + "/" + ca};
        if (!client.isEmpty()) args << "--tls-cert" << certs_ + "/" + client + ".pem" << "--tls-key" << certs_ + "/" + client + ".key";
        return args;
    }

    QString Out(const char* name) const { return QString::fromStdString(dir_.File(name)); }

    TempDir dir_;
    QString certs_;
    std::vector<std::unique_ptr<ServiceProcess>> services_;
};

TEST_F(QvreportTlsTest, WritesTheSameReportAsOverPlainText) {
    const QString plain = Serve({});
    const QString secure = ServeTls("test-server");
    const ToolRun overPlain = Qvreport(Report(plain, Out("plain.htm")));
    ASSERT_EQ(overPlain.exitCode, 0) << overPlain.err.toStdString();
    const ToolRun overTls = Qvreport(Report(secure, Out("tls.htm")) + Tls("test-ca.pem", "test-client-alice"));
    ASSERT_EQ(overTls.exitCode, 0) << overTls.err.toStdString();
    EXPECT_TRUE(overTls.err.isEmpty()) << overTls.err.toStdString();
    EXPECT_TRUE(Read(Out("plain.htm")).contains("Text Editor"));
    EXPECT_EQ(Read(Out("tls.htm")), Read(Out("plain.htm")));

    // The certificate also names 127.0.0.1.
    QString byAddress = secure;
    byAddress.replace(QStringLiteral("localhost"), QStringLiteral("127.0.0.1"));
    const ToolRun numeric = Qvreport(Report(byAddress, Out("ip.htm")) + Tls("test-ca.pem", "test-client-alice"));
    ASSERT_EQ(numeric.exitCode, 0) << numeric.err.toStdString();
    EXPECT_EQ(Read(Out("ip.htm")), Read(Out("plain.htm")));
}

TEST_F(QvreportTlsTest, EachFailureIsOneLineAndExitStatusOne) {
    const QString plain = Serve({});
    const QString secure = ServeTls("test-server");
    const QString otherName = ServeTls("test-server-other-name");
    const QString expired = ServeTls("test-server-expired");
    const QStringList alice = Tls("test-ca.pem", "test-client-alice");
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
        const ToolRun run = Qvreport(Report(c.server, Out("x.htm")) + c.tls);
        EXPECT_EQ(run.exitCode, 1) << c.what << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("qvreport: ")) << c.what << ": " << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << c.what << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.says)) << c.what << ": " << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(Out("x.htm"))) << c.what;
    }
}

}  // namespace
