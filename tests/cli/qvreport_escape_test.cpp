// Names from the store reach qvreport's messages escaped: a control
// character in a monitored user's name never reaches the terminal.
#include "tests/cli/qvreport_run.h"
#include "tests/support/service_process.h"

#include <gtest/gtest.h>

using namespace qv::test;

TEST(QvreportEscape, NamesFromTheStoreArePrintedEscaped) {
    TempDir dir;
    std::vector<qv::server::ActivityRecord> records;
    for (const char* user : {"evil\x1b]0;owned\x07\x1b[2J", "bidi\u202Eexe.txt"})
        records.push_back({user, "WS-01", "a.exe", "A", "t", 1'735'689'600'000, 1000, 1, 1});
    WriteRecords(dir.File("store.db"), records);
    ServiceProcess service({"serve", "--store", dir.File("store.db"), "--listen", "127.0.0.1:0"});
    const QString address = QString::fromStdString(service.WaitUntilListening());
    ASSERT_FALSE(address.isEmpty()) << service.Log();

    // The missing item's message lists the names there are.
    const ToolRun run = Qvreport({"--server", address, "--tree", "users", "--path", "nobody", "--period", "year",
                                  "--html", QString::fromStdString(dir.File("r.htm"))});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(R"(evil\x1B]0;owned\x07\x1B[2J)")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(R"(bidi\u202Eexe.txt)")) << run.err.toStdString();
    for (const char16_t raw : {u'\x1b', u'\x07', u'\u202e'}) EXPECT_FALSE(run.err.contains(QChar(raw))) << int(raw);
}
