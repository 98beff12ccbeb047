// Reports end to end: a real qvservice over a store written here, the
// viewer's document connected to it, and every row of the reports checked
// against this test's own sums of the records.
#include "../server/service_process.h"
#include "../server/test_support.h"
#include "../service/doc_test_support.h"
#include "../service/gui_test_environment.h"
#include "format_duration.h"
#include "hive_store.h"
#include "ole_date.h"
#include "qv_grid.h"
#include "qv_viewer_doc.h"
#include "recordset_reader.h"
#include "report_host.h"
#include "right_view.h"
#include "tree_object.h"
#include "viewer_settings.h"

#include <QApplication>
#include <QLabel>

#include <map>

QV_GUI_TEST_ENVIRONMENT(QApplication)

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

struct Totals {
    std::int64_t ms = 0;
    std::int64_t keyboard = 0;
    std::int64_t mouse = 0;
};

class WholeYearHost : public IReportHost {
public:
    bool GetPeriod(ReportPeriod& p) override {
        p = {*OleDateFromFields(2024, 12, 1), kDateValid, *OleDateFromFields(2025, 2, 1), kDateValid, kPeriodCustom};
        return true;
    }
    bool SetPeriod(const ReportPeriod&) override { return true; }
    CTreeObject* GetSelectedObject() override { return nullptr; }
    void SelectFirstItem() override {}
    void SelectChildById(quint32) override {}
};

// Grid rows as name -> (time text, keyboard, mouse).
std::map<QString, QStringList> Rows(const CQVGrid& grid, int nameColumn, int timeColumn) {
    std::map<QString, QStringList> rows;
    for (int i = 0; i < grid.GetRowCount(); ++i) {
        const CGridRow* row = grid.GetRow(i);
        rows[CellText(*row->GetItem(nameColumn))] = {CellText(*row->GetItem(timeColumn)),
                                                     CellText(*row->GetItem(timeColumn + 1)),
                                                     CellText(*row->GetItem(timeColumn + 2))};
    }
    return rows;
}

// The id of a user, computer or program by its name, from the service.
quint32 IdOf(CQVViewerDoc& doc, QueryKind kind, std::u16string_view name) {
    QueryRequest request;
    request.kind = static_cast<std::int32_t>(kind);
    RecordsetReader reader(RunQuery(doc.Service(), request));
    for (; !reader.IsEOF(); reader.MoveNext())
        if (GetFieldString(reader.GetField("Name")) == name) return static_cast<quint32>(GetFieldInt(reader.GetField("ID")));
    return 0;
}

QStringList Expected(const Totals& t) {
    return {FormatDuration(static_cast<double>(t.ms)), QString::number(t.keyboard), QString::number(t.mouse)};
}

}  // namespace

TEST(ReportsEndToEnd, RowsMatchTheRecordsSums) {
    TempDir dir;
    const std::string store = dir.File("store.db");
    std::vector<qv::server::ActivityRecord> records;
    for (int i = 0; i < 60; ++i) {
        const std::string user = i % 3 == 0 ? "alice" : i % 3 == 1 ? "bob" : "carol";
        const std::string process = i % 2 ? "browser" : "editor";
        records.push_back({user, i % 4 ? "pc-1" : "pc-2", process, process == "browser" ? "Web Browser" : "",
                           "title " + std::to_string(i % 5), kJan2025 + i * 3'600'000LL, 60'000LL * (i + 1), i * 3,
                           i * 7 + 1});
    }
    WriteRecords(store, records);
    ServiceProcess service({"serve", "--store", store, "--listen", "127.0.0.1:0"});
    const std::string address = service.WaitUntilListening();
    ASSERT_FALSE(address.empty()) << service.Log();

    HiveStore hive(dir.File("user.reg"));
    ASSERT_TRUE(WriteServerName(hive, std::u16string(address.begin(), address.end())));
    CQVViewerDoc doc(hive);
    RecordingHost docHost;
    doc.SetHost(&docHost);
    MessageCapture messages;
    doc.Connect();
    ASSERT_NE(doc.Service(), nullptr);
    WholeYearHost host;
    CRightView view(&host);
    view.OnInitialUpdate();

    // The users of the browser, and alice's window titles in it on pc-1.
    std::map<std::string, Totals> browserUsers;
    std::map<std::string, Totals> aliceTitles;
    for (const auto& r : records) {
        if (r.process != "browser") continue;
        Totals& user = browserUsers[r.user];
        user.ms += r.durationMs, user.keyboard += r.keyboardEvents, user.mouse += r.mouseEvents;
        if (r.user == "alice" && r.computer == "pc-1") {
            Totals& title = aliceTitles[r.windowTitle];
            title.ms += r.durationMs, title.keyboard += r.keyboardEvents, title.mouse += r.mouseEvents;
        }
    }

    const quint32 browserId = IdOf(doc, QueryKind::Programs, u"browser");
    const quint32 aliceId = IdOf(doc, QueryKind::Users, u"alice");
    const quint32 pc1Id = IdOf(doc, QueryKind::Computers, u"pc-1");
    ASSERT_NE(browserId, 0u);
    ASSERT_NE(aliceId, 0u);
    ASSERT_NE(pc1Id, 0u);

    CProgramObject browser(browserId, "browser");
    browser.CreateReport();
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(view.CaptionLine()->text(), "Web Browser (browser)");
    const auto users = Rows(*view.Grid(), 0, 1);
    ASSERT_EQ(users.size(), browserUsers.size());
    for (const auto& [name, totals] : browserUsers) EXPECT_EQ(users.at(QString::fromStdString(name)), Expected(totals)) << name;

    CUserObject aliceUser(aliceId, "alice");
    CComputerObject pc1(pc1Id, "pc-1", &aliceUser);
    CApplicationObject aliceBrowser(browserId, "browser", &pc1);
    aliceBrowser.CreateReport();
    EXPECT_EQ(view.CaptionLine()->text(), "browser (alice on pc-1)");
    const auto titles = Rows(*view.Grid(), 0, 1);
    ASSERT_EQ(titles.size(), aliceTitles.size());
    for (const auto& [title, totals] : aliceTitles) EXPECT_EQ(titles.at(QString::fromStdString(title)), Expected(totals)) << title;
    EXPECT_TRUE(messages.messages.empty());
}
