// qvreport end to end: a store written here, a real qvservice on it, and
// the program's files checked row by row against this test's own sums;
// then the ways it refuses to write.
#include "../server/service_process.h"
#include "../server/test_support.h"
#include "qvreport_run.h"
#include "format_duration.h"
#include "report_options.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

struct Totals {
    std::int64_t ms = 0, keyboard = 0, mouse = 0;
};

class QvreportTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 40; ++i)
            records_.push_back({i % 2 ? "anna" : "ben", i % 3 ? "WS-01" : "WS-02", i % 4 ? "browser.exe" : "editor.exe",
                                i % 4 ? "Web Browser" : "Text Editor", i % 5 ? "<script>alert(1)</script>" : "Inbox",
                                kJan2025 + i * 600'000LL, 90'000LL * (i + 1), i * 11, i * 13 + 2});
        WriteRecords(dir_.File("store.db"), records_);
        service_ = std::make_unique<ServiceProcess>(
            std::vector<std::string>{"serve", "--store", dir_.File("store.db"), "--listen", "127.0.0.1:0"});
        address_ = QString::fromStdString(service_->WaitUntilListening());
        ASSERT_FALSE(address_.isEmpty()) << service_->Log();
    }

    QStringList Args(const QString& tree, const QString& path) const {
        return {"--server", address_, "--tree", tree, "--path", path, "--period", "custom",
                "--from", "2024-12-31 00:00", "--to", "2025-01-03 00:00"};
    }

    TempDir dir_;
    std::vector<qv::server::ActivityRecord> records_;
    std::unique_ptr<ServiceProcess> service_;
    QString address_;
};

}  // namespace

TEST_F(QvreportTest, WritesEveryRowWithTheRecordsTotals) {
    std::map<std::string, Totals> titles;  // anna's browser windows on WS-01
    for (const auto& r : records_) {
        if (r.user != "anna" || r.computer != "WS-01" || r.process != "browser.exe") continue;
        Totals& t = titles[r.windowTitle];
        t.ms += r.durationMs, t.keyboard += r.keyboardEvents, t.mouse += r.mouseEvents;
    }
    const std::string html = dir_.File("r.htm"), csv = dir_.File("r.csv");
    const ToolRun run = Qvreport(Args("users", "anna/WS-01/Web Browser") + QStringList{"--html", QString::fromStdString(html),
                                                                                    "--csv", QString::fromStdString(csv)});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const QList<QByteArray> lines = Read(csv).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "Window Title,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events\r");
    std::size_t rows = 0;
    for (qsizetype i = 1; i < lines.size() && !lines[i].isEmpty(); ++i, ++rows) {
        const QList<QByteArray> cells = lines[i].chopped(1).split(',');
        ASSERT_EQ(cells.size(), 5) << lines[i].toStdString();
        const Totals& expected = titles.at(cells[0].toStdString());
        EXPECT_EQ(cells[1], FormatDuration(static_cast<double>(expected.ms)).toUtf8());
        EXPECT_EQ(cells[2].toLongLong(), expected.ms);
        EXPECT_EQ(cells[3].toLongLong(), expected.keyboard);
        EXPECT_EQ(cells[4].toLongLong(), expected.mouse);
    }
    EXPECT_EQ(rows, titles.size());

    // The same table as the viewer's export, with the caption as title and
    // the monitored user's window title escaped.
    const QByteArray page = Read(html);
    EXPECT_TRUE(page.contains("<title>Web Browser (anna on WS-01)</title>\r\n"));
    EXPECT_TRUE(page.contains("<td><font size=\"2\">&lt;script&gt;alert(1)&lt;/script&gt;</font></td>\r\n"));
    EXPECT_FALSE(page.contains("<script>"));
    EXPECT_TRUE(page.endsWith("</html>\r\n"));
}

TEST_F(QvreportTest, ProgramReportSumsEachUser) {
    std::map<std::string, Totals> users;
    for (const auto& r : records_) {
        if (r.process != "browser.exe") continue;
        Totals& t = users[r.user];
        t.ms += r.durationMs, t.keyboard += r.keyboardEvents, t.mouse += r.mouseEvents;
    }
    const std::string csv = dir_.File("users.csv");
    const ToolRun run = Qvreport(Args("applications", "Web Browser") + QStringList{"--csv", QString::fromStdString(csv)});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QList<QByteArray> lines = Read(csv).split('\n');
    EXPECT_EQ(lines[0], "User Name,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events\r");
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(users.size()) + 2);  // and the empty tail
    for (qsizetype i = 1; i <= static_cast<qsizetype>(users.size()); ++i) {
        const QList<QByteArray> cells = lines[i].chopped(1).split(',');
        const Totals& expected = users.at(cells[0].toStdString());
        EXPECT_EQ(cells[2].toLongLong(), expected.ms);
        EXPECT_EQ(cells[3].toLongLong(), expected.keyboard);
        EXPECT_EQ(cells[4].toLongLong(), expected.mouse);
    }
}

TEST_F(QvreportTest, RefusesWithAClearMessageAndWritesNothing) {
    const std::string html = dir_.File("never.htm");
    const QString out = QString::fromStdString(html);

    ToolRun run = Qvreport(Args("users", "anna/WS-09") + QStringList{"--html", out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no item \"WS-09\" under \"anna\"")) << run.err.toStdString();

    run = Qvreport({"--server", "127.0.0.1:1", "--tree", "users", "--path", "anna", "--period", "year", "--html", out});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("127.0.0.1:1")) << run.err.toStdString();

    run = Qvreport(Args("users", "anna") + QStringList{"--html", "/etc/passwd/r.htm"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("/etc/passwd/r.htm")) << run.err.toStdString();

    run = Qvreport({"--server", address_, "--tree", "people", "--path", "anna", "--period", "year", "--html", out});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("usage:"));
    EXPECT_FALSE(QFile::exists(out));
}

TEST(ReportOptions, ReadsPeriodsAndRefusesWhatCannotBeRight) {
    const QStringList base = {"--server", "s", "--tree", "computers", "--path", "WS-01/anna", "--html", "r.htm"};
    ParsedOptions parsed = ParseReportOptions(base + QStringList{"--period", "week"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->periodType, 1);
    EXPECT_EQ(parsed.options->path, (QStringList{"WS-01", "anna"}));

    parsed = ParseReportOptions(base + QStringList{"--period", "custom", "--from", "2025-01-01 08:30", "--to", "2025-01-02"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_NEAR(parsed.options->to - parsed.options->from, 1.0 - 8.5 / 24, 1e-6);

    for (const QStringList& bad : {QStringList{"--period", "custom", "--from", "2025-01-02", "--to", "2025-01-01"},
                                   QStringList{"--period", "custom", "--from", "2025-02-30", "--to", "2025-03-01"},
                                   QStringList{"--period", "custom", "--from", "yesterday", "--to", "2025-03-01"},
                                   QStringList{"--period", "year", "--from", "2025-01-01"},
                                   QStringList{"--period", "fortnight"}})
        EXPECT_FALSE(ParseReportOptions(base + bad).options) << bad.join(' ').toStdString();
    EXPECT_FALSE(ParseReportOptions({"--server", "s", "--tree", "users", "--path", "a//b", "--period", "year", "--csv", "x"}).options);
}
