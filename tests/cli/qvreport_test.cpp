// qvreport end to end: a store written here, a real qvservice on it, and
// the program's files checked row by row against this test's own sums;
// then the ways it refuses to write.
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"
#include "tests/cli/qvreport_run.h"
#include "reports/format_duration.h"
#include "cli/report_options.h"

#include <QFile>
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

    QString Out(const char* name) const { return QString::fromStdString(dir_.File(name)); }

    TempDir dir_;
    std::vector<qv::server::ActivityRecord> records_;
    std::unique_ptr<ServiceProcess> service_;
    QString address_;
};

}  // namespace

// A report's CSV against the records' own sums, row by row.
void ExpectTotals(const QByteArray& csv, const QByteArray& header, const std::map<std::string, Totals>& sums) {
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(sums.size()) + 2) << csv.toStdString();  // and the empty tail
    EXPECT_EQ(lines[0], header + "\r");
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].chopped(1).split(',');
        ASSERT_EQ(cells.size(), 5) << lines[i].toStdString();
        const Totals& expected = sums.at(cells[0].toStdString());
        EXPECT_EQ(cells[1], FormatDuration(static_cast<double>(expected.ms)).toUtf8());
        EXPECT_EQ(cells[2].toLongLong(), expected.ms);
        EXPECT_EQ(cells[3].toLongLong(), expected.keyboard);
        EXPECT_EQ(cells[4].toLongLong(), expected.mouse);
    }
}

TEST_F(QvreportTest, WritesEveryRowWithTheRecordsTotals) {
    std::map<std::string, Totals> titles, users;  // anna's browser windows on WS-01; the browser's users
    for (const auto& r : records_) {
        const auto add = [&r](Totals& t) { t.ms += r.durationMs, t.keyboard += r.keyboardEvents, t.mouse += r.mouseEvents; };
        if (r.process != "browser.exe") continue;
        add(users[r.user]);
        if (r.user == "anna" && r.computer == "WS-01") add(titles[r.windowTitle]);
    }
    const QString html = Out("r.htm"), csv = Out("r.csv"), usersCsv = Out("users.csv");
    ToolRun run = Qvreport(Args("users", "anna/WS-01/Web Browser") + QStringList{"--html", html, "--csv", csv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectTotals(Read(csv), "Window Title,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events", titles);
    run = Qvreport(Args("applications", "Web Browser") + QStringList{"--csv", usersCsv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ExpectTotals(Read(usersCsv), "User Name,Time Spent,Time Spent (ms),Keyboard Events,Mouse Events", users);

    // The same table as the viewer's export, with the caption as title and
    // the monitored user's window title escaped.
    const QByteArray page = Read(html);
    EXPECT_TRUE(page.contains("<title>Web Browser (anna on WS-01)</title>\r\n"));
    EXPECT_TRUE(page.contains("<td><font size=\"2\">&lt;script&gt;alert(1)&lt;/script&gt;</font></td>\r\n"));
    EXPECT_FALSE(page.contains("<script>"));
    EXPECT_TRUE(page.endsWith("</html>\r\n"));
}

TEST_F(QvreportTest, RefusesWithAClearMessageAndWritesNothing) {
    const QString out = Out("never.htm");

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
