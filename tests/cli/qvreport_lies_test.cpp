// qvreport against a fake service whose answers lie: it ends at once with
// the reason on standard error and writes nothing.
#include "tests/service/lying_service.h"
#include "tests/cli/qvreport_run.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using qv::test::Behaviour;

TEST(QvreportLies, AMalformedAnswerEndsTheRunWithItsReason) {
    qv::test::LyingServer server;
    ASSERT_FALSE(server.Address().empty());
    TempDir dir;
    const QString html = QString::fromStdString(dir.File("never.htm"));
    struct Case {
        Behaviour behaviour;
        const char* says;
    };
    for (const Case& lie : {Case{Behaviour::WrongWidth, "3 values for 2 fields"},
                            Case{Behaviour::WrongType, "field ID holds a value of type 8"},
                            Case{Behaviour::NotANumber, "not a finite number"}}) {
        server.fake.behaviour = lie.behaviour;
        const qv::test::ToolRun run = qv::test::Qvreport({"--server", QString::fromStdString(server.Address()), "--tree",
                                                          "users", "--path", "anna", "--period", "year", "--html", html});
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(lie.says)) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(html));
    }
}

}  // namespace
