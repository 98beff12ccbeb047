// The progress line of import and demo on a terminal, and the log's plain lines under the journal.
#include "qvservice/import/csv_import.h"
#include "qvservice/support/progress_line.h"
#include "records/log.h"
#include "tests/support/run_command.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <fstream>

using namespace qv;
using namespace qv::server;
using namespace qv::test;
using namespace std::string_literals;

// Runs the command on a pseudo-terminal, as an operator's shell would.
static CommandResult RunOnTerminal(const std::string& command) {
    return RunCommand("script -q -e -c '" + command + "' /dev/null");
}

TEST(ProgressLine, FormatsRecordsPercentAndRateAndShowsOnATerminalOnlyForImportAndDemo) {
    EXPECT_EQ(FormatProgress(1234, 0.5, 2.0), "1234 records,  50%, 617 records/s");
    EXPECT_EQ(FormatProgress(0, 0.0, 0.0), "0 records,   0%, 0 records/s");
    EXPECT_EQ(FormatProgress(10, 1.7, 1.0), "10 records, 100%, 10 records/s");
    EXPECT_EQ(FormatProgress(10, 0.999, 1.0), "10 records,  99%, 10 records/s");  // never 100 before the end

    TempDir dir;
    const std::string csv = dir.File("records.csv");
    std::ofstream(csv) << kCsvHeader << "\n"
                       << "anna,WS-01,app.exe,App,Main,2024-03-25T10:00:00Z,1000,1,1\n"
                       << "ben,WS-02,app.exe,App,Main,2024-03-25T11:00:00Z,1000,1,1\n";
    const std::string program = QVSERVICE_PATH;

    const CommandResult imported = RunOnTerminal(program + " import --store " + dir.File("a.db") + " " + csv);
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_NE(imported.output.find("\r2 records, 100%"), std::string::npos) << imported.output;
    EXPECT_NE(imported.output.find("imported 2 records"), std::string::npos) << imported.output;

    const CommandResult demo = RunOnTerminal(program + " demo --store " + dir.File("demo.db") + " --records 3000");
    EXPECT_EQ(demo.exitCode, 0) << demo.output;
    EXPECT_NE(demo.output.find(" records, 100%, "), std::string::npos) << demo.output;
    EXPECT_NE(demo.output.find("records/s"), std::string::npos) << demo.output;
}

TEST(ServiceLog, KnowsTheJournalStreamOnlyByItsDeviceAndInodeAndWritesItBareLines) {
    TempDir dir;
    const int journal = ::open(dir.File("journal").c_str(), O_CREAT | O_WRONLY, 0600);
    const int other = ::open(dir.File("other").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_TRUE(journal >= 0 && other >= 0);
    struct stat status {};
    ASSERT_EQ(::fstat(journal, &status), 0);
    const std::string name = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);

    EXPECT_TRUE(IsJournalStream(name.c_str(), journal));
    EXPECT_FALSE(IsJournalStream(name.c_str(), other));  // a redirected child inherits the variable
    EXPECT_FALSE(IsJournalStream(nullptr, journal));
    for (const std::string& bad : {""s, std::to_string(status.st_dev), name + "x", ":"s}) {
        EXPECT_FALSE(IsJournalStream(bad.c_str(), journal)) << bad;
    }
    ::close(journal);
    ::close(other);

    EXPECT_EQ(FormatLogLine("started", true, "qvservice"), "started\n");
    const std::string stamped = FormatLogLine("started", false, "qvservice");
    EXPECT_EQ(stamped.size(), std::string("2026-12-06 20:10:00 qvservice: started\n").size()) << stamped;
    EXPECT_TRUE(stamped.ends_with(" qvservice: started\n")) << stamped;
}
