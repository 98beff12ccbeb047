// qvreport against a fake service whose answers lie: it ends at once with
// the reason on standard error and writes nothing.
#include "../service/lying_service.h"
#include "../server/test_support.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

using qv::test::Behaviour;

TEST(QvreportLies, AMalformedAnswerEndsTheRunWithItsReason) {
    qv::test::LyingServer server;
    ASSERT_FALSE(server.Address().empty());
    qv::test::TempDir dir;
    const QString html = QString::fromStdString(dir.File("never.htm"));
    struct Case {
        Behaviour behaviour;
        const char* says;
    };
    for (const Case& lie : {Case{Behaviour::WrongWidth, "3 values for 2 fields"},
                            Case{Behaviour::WrongType, "field ID holds a value of type 8"},
                            Case{Behaviour::NotANumber, "not a finite number"}}) {
        server.fake.behaviour = lie.behaviour;
        QProcess process;
        process.start(QStringLiteral(QVREPORT_PATH),
                      {"--server", QString::fromStdString(server.Address()), "--tree", "users", "--path", "anna",
                       "--period", "year", "--html", html});
        ASSERT_TRUE(process.waitForFinished(60'000));
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.contains(lie.says)) << err.toStdString();
        EXPECT_FALSE(QFile::exists(html));
    }
}

}  // namespace
