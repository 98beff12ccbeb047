// Options > Server with a report on screen: a server that fails leaves no report of the old one shown; one that answers
// shows its first item's.
#include "app/main_frame.h"
#include "app/options_sheet.h"
#include "reports/qv_grid.h"
#include "reports/right_view.h"
#include "reports/t_chart.h"
#include "resources/resource_ids.h"
#include "tests/support/doc_test_support.h"
#include "trees/workspace_bar.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPieSeries>
#include <QPieSlice>
#include <QTest>

#include <cstring>

using namespace qv::test;

// A server as the document activates it, answering queries from a fake's tables.
class FakeServer : public AnsweringObject {
public:
    explicit FakeServer(std::shared_ptr<FakeServiceState> state) : AnsweringObject(S_OK), query_(std::move(state)) {}
    RemoteAnswer Query(std::span<const std::byte> bytes) override {
        QueryRequest request;
        std::memcpy(&request, bytes.data(), std::min(bytes.size(), sizeof request));
        RemoteAnswer answer;
        answer.hr = query_.Query(request, answer.recordset);
        return answer;
    }

private:
    FakeQVQuery query_;
};

// One user, whose report is one computer.
static std::shared_ptr<FakeServiceState> Server(std::u16string user, std::u16string computer) {
    auto state = std::make_shared<FakeServiceState>();
    state->Answer(0, 0, 0, 0, EntityTable("Computers", {{Variant::I4(1), Text(user), Variant::I4(1)}}));
    FakeTable report{{{"Id", adInteger, 4}, {"Name", adVarWChar, 255}},
                     {{Variant::I4(7), Text(computer), Variant::R8(3.6e6), Variant::R8(5), Variant::R8(9)}}};
    for (const char* field : {"TimeSpent", "KeyboardEvents", "MouseEvents"})
        report.fields.push_back({field, adDouble, 8});
    state->Answer(1, 0, 1, 0, std::move(report));
    return state;
}

class ReconnectViewTest : public QObject {
    Q_OBJECT

private slots:
    void theViewShowsNoStaleReportAndAReconnectShowsTheFirstItem() {
        QTemporaryDir dir;
        HiveStore hive(dir.filePath(QStringLiteral("user.reg")).toStdString());
        const auto north = Server(u"anna", u"WS-NORTH"), south = Server(u"ben", u"WS-SOUTH");
        CQVViewerDoc doc(hive);
        doc.SetActivator([&](std::string_view name) {
            const auto state = name == "north" ? north : name == "south" ? south : nullptr;
            if (!state) return ActivationResult{E_FAIL, "no such server", nullptr};
            return ActivationResult{S_OK, {}, std::make_shared<FakeServer>(state)};
        });
        MessageCapture messages;
        CMainFrame frame(&doc, &hive);
        doc.SetHost(&frame);
        WriteServerName(hive, u"north");
        QVERIFY(doc.OnNewDocument());
        CRightView& view = *frame.View();
        view.OnInitialUpdate();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.Pane(kIdPaneUsers)->BringToFront();
        QTRY_COMPARE(frame.CurrentPaneId(), static_cast<int>(kIdPaneUsers));
        QCOMPARE(view.CaptionLine()->text(), QStringLiteral("anna"));
        QCOMPARE(view.Chart()->Series()->slices().at(0)->label(), QStringLiteral("WS-NORTH"));

        CPPageServer page(&doc, &hive);
        page.OnInitDialog();
        auto* server = page.findChild<QLineEdit*>(QStringLiteral("control%1").arg(kIdcServerName));
        QVERIFY(server);
        server->setText(QStringLiteral("nowhere"));
        QVERIFY(page.OnOK());
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QVERIFY(messages.messages[0].text.contains(QStringLiteral("nowhere")));
        QCOMPARE(frame.Pane(kIdPaneUsers)->Tree()->topLevelItemCount(), 0);
        QVERIFY(view.CaptionLine()->text().isEmpty());
        QVERIFY(view.CaptionIcon()->pixmap().isNull());
        QCOMPARE(view.Grid()->GetRowCount(), 0);
        QCOMPARE(view.Chart()->Series()->count(), 0);
        QCOMPARE(view.Chart()->Legend()->count(), 0);

        server->setText(QStringLiteral("south"));
        QVERIFY(page.OnOK());
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QTreeWidget* users = frame.Pane(kIdPaneUsers)->Tree();
        QVERIFY(users->topLevelItemCount() == 1 && users->currentItem() == users->topLevelItem(0));
        QCOMPARE(view.CaptionLine()->text(), QStringLiteral("ben"));
        QCOMPARE(view.Grid()->GetRowCount(), 1);
        QCOMPARE(view.Chart()->Series()->slices().at(0)->label(), QStringLiteral("WS-SOUTH"));
        frame.ReleaseTrees();
    }
};

QTEST_MAIN(ReconnectViewTest)
#include "reconnect_view_qtest.moc"
