// The main frame: its command table, panes as tabs, pane toggles, Refresh, the fixed caption, the look and the layout
// kept in the hive, and a reconnect from Options with a report on screen.
#include "app/frame_status_bar.h"
#include "app/main_frame.h"
#include "app/options_sheet.h"
#include "reports/qv_grid.h"
#include "reports/right_view.h"
#include "reports/t_chart.h"
#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "tests/service/stalled_call.h"
#include "tests/support/doc_test_support.h"
#include "tests/support/fake_tree.h"
#include "trees/tree_walk.h"
#include "ui/command_manager.h"
#include "ui/context_menu_manager.h"
#include "ui/toolbar_manager.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPieSeries>
#include <QPieSlice>
#include <QTest>
#include <QToolBar>

#include <cstring>

using namespace qv::test;

namespace {

QList<int> MenuIds(const QMenu* menu) {
    QList<int> ids;
    for (const QAction* action : menu->actions()) ids.append(action->isSeparator() ? 0 : action->data().toInt());
    return ids;
}

bool Shown(CMainFrame& frame) {
    frame.show();
    return QTest::qWaitForWindowExposed(&frame);
}

void ShowFront(CMainFrame& frame, int paneId) {
    frame.Pane(paneId)->BringToFront();
    QTRY_COMPARE(frame.CurrentPaneId(), paneId);
}

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
std::shared_ptr<FakeServiceState> Server(std::u16string user, std::u16string computer) {
    auto state = std::make_shared<FakeServiceState>();
    state->Answer(0, 0, 0, 0, EntityTable("Computers", {{Variant::I4(1), Text(user), Variant::I4(1)}}));
    FakeTable report{{{"Id", adInteger, 4}, {"Name", adVarWChar, 255}},
                     {{Variant::I4(7), Text(computer), Variant::R8(3.6e6), Variant::R8(5), Variant::R8(9)}}};
    for (const char* field : {"TimeSpent", "KeyboardEvents", "MouseEvents"})
        report.fields.push_back({field, adDouble, 8});
    state->Answer(1, 0, 1, 0, std::move(report));
    return state;
}

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        hive = std::make_unique<HiveStore>(dir.filePath(QStringLiteral("user.reg")).toStdString());
        FakeObject::live = 0;
    }

    void userToolbarToggleKeysAndLockIndicators() {
        CMainFrame frame(nullptr, hive.get());
        QMenu* toolbarsMenu = frame.menuBar()->actions().at(2)->menu()->actions().at(0)->menu();
        emit toolbarsMenu->aboutToShow();
        QVERIFY(!frame.CommandAction(32793)->isEnabled());  // user toolbar 1 is not defined
        frame.Toolbars().CreateUserToolbar(QStringLiteral("Mine"));
        emit toolbarsMenu->aboutToShow();
        QVERIFY(frame.CommandAction(32793)->isEnabled());
        QVERIFY(frame.CommandAction(32793)->isChecked());
        QVERIFY(frame.OnCommand(32793));
        QVERIFY(frame.Toolbars().UserToolbar(0)->isHidden());
        QVERIFY(!frame.CommandAction(32793)->isChecked());

        // Alternative keys reach the same command; Open and Save have no file to work on: no command, no key.
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::SHIFT | Qt::Key_Insert)), 57637);
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::ALT | Qt::Key_Backspace)), 57643);
        for (int id : {57601, 57603}) QVERIFY(!frame.CommandAction(id));
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::CTRL | Qt::Key_O)), 0);
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::CTRL | Qt::Key_S)), 0);

        CFrameStatusBar* status = frame.FrameStatusBar();
        status->SetLockReader([](CFrameStatusBar::Indicator i) { return i == CFrameStatusBar::kNum; });
        QVERIFY(status->IndicatorPane(CFrameStatusBar::kNum)->isEnabled());
        QVERIFY(!status->IndicatorPane(CFrameStatusBar::kCaps)->isEnabled());
    }

    void myMenuIsTheGridsContextMenu() {
        CMainFrame frame(nullptr, hive.get());
        QVERIFY(Shown(frame));
        QMenu* menu = frame.ContextMenus().Menu(130);
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("My menu"));
        QCOMPARE(MenuIds(menu), (QList<int>{57635, 57634, 57637}));

        CQVGrid* grid = frame.View()->Grid();
        grid->InsertColumn(0, QStringLiteral("Name"), 80);
        grid->InsertColumn(1, QStringLiteral("Count"), 80);
        std::unique_ptr<CGridRow> row = grid->CreateRow(2);
        row->ReplaceItem(0, std::make_unique<CGridItem>(QStringLiteral("alice")));
        row->ReplaceItem(1, std::make_unique<CGridItem>(17));
        grid->AddRow(std::move(row));
        grid->AdjustLayout();
        grid->SetCurSel(0);
        grid->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(grid));
        emit grid->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(menu->isVisible());
        // The grid can copy, not cut or paste.
        QVERIFY(frame.CommandAction(57634)->isEnabled());
        QVERIFY(!frame.CommandAction(57635)->isEnabled());
        QVERIFY(!frame.CommandAction(57637)->isEnabled());
        QApplication::clipboard()->clear();
        frame.CommandAction(57634)->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("alice\t17"));
        menu->hide();
        QVERIFY(frame.CommandAction(57635)->isEnabled());  // the keys stay live
    }

    void panesAreTabsAndToggleWithTheirCheckMarks() {
        CMainFrame frame(nullptr, hive.get());
        QCOMPARE(frame.CurrentPaneId(), 126);
        QCOMPARE(frame.GetActiveTreePane(), frame.Pane(126));
        frame.show();

        QAction* toggle = frame.CommandAction(32845);
        QVERIFY(toggle->isChecked());
        QVERIFY(frame.OnCommand(32845));
        QVERIFY(frame.Pane(126)->isHidden());
        QVERIFY(!toggle->isChecked());
        QVERIFY(frame.CommandAction(32803)->isChecked());  // a pane behind another tab is still shown

        frame.PostCommand(32845);  // queued: runs once the current message is done
        QVERIFY(frame.Pane(126)->isHidden());
        QTRY_VERIFY(!frame.Pane(126)->isHidden());
        QVERIFY(toggle->isChecked());
    }

    void exportBeforeAnyReportAndRefreshReloadsTheCurrentTreeAndTheCaptionStays() {
        auto service = std::make_shared<FakeServiceState>();
        service->Answer(0, 0, 0, 0,
                        EntityTable("Computers", {{Variant::I4(3), Text(u"Name 3"), Variant::I4(1)},
                                                  {Variant::I4(1), Text(u"Name 1"), Variant::I4(1)},
                                                  {Variant::I4(2), Text(u"Name 2"), Variant::I4(1)}}));
        const auto& queries = service->queries;
        CQVViewerDoc doc(*hive);
        doc.SetService(std::make_unique<FakeQVQuery>(service));
        CMainFrame frame(&doc, hive.get());
        doc.SetHost(&frame);
        QVERIFY(Shown(frame));
        // No report yet: the grid has no columns, and its export (a page without a table) is still offered.
        int exportsAsked = 0;
        SetExportFileChooser([&](QWidget*, const QString&) {
            ++exportsAsked;
            return QString();  // cancelled
        });
        QVERIFY(frame.OnCommand(32849));
        QCOMPARE(exportsAsked, 1);
        SetExportFileChooser({});
        ShowFront(frame, 124);
        QCOMPARE(frame.Pane(124)->Tree()->topLevelItemCount(), 0);

        // The tree's query, then the report of the item it selects.
        QVERIFY(frame.OnCommand(32844));
        QCOMPARE(queries.size(), 2u);
        CWaitingTreeCtrl* users = frame.Pane(124)->Tree();
        QCOMPARE(users->topLevelItemCount(), 3);  // their order is WorkspaceBarTest's
        QCOMPARE(users->currentItem(), users->topLevelItem(0));
        QCOMPARE(frame.Pane(124)->CurrentObject(), TreeObjectOf(users->topLevelItem(0)));
        QCOMPARE(frame.Pane(125)->Tree()->topLevelItemCount(), 0);  // only the current pane
        QVERIFY(frame.OnCommand(32844));
        QVERIFY(queries.size() == 4u && users->topLevelItemCount() == 3);

        frame.setWindowTitle(QStringLiteral("Untitled - QVViewer"));
        QCOMPARE(frame.windowTitle(), QStringLiteral("QVViewer"));
        for (int id : {32844, 32827, 32830, 32803, 32803, 59393, 59393}) {
            frame.OnCommand(id);
            QCOMPARE(frame.windowTitle(), QStringLiteral("QVViewer"));
        }
        frame.ReleaseTrees();
    }

    void theLookAndFrontPaneComeBackAndEachTabChangeLeavesOneReportAlive() {
        {
            CMainFrame frame(nullptr, hive.get());
            QCOMPARE(frame.ApplicationLook(), 32830);
            QVERIFY(Shown(frame));
            ShowFront(frame, 124);
            QVERIFY(frame.OnCommand(32827));
            QVERIFY(!frame.CommandAction(32830)->isChecked());
            frame.close();
        }
        HiveStore reread(hive->Path());
        QCOMPARE(reread.Load(), HiveStore::LoadResult::Loaded);
        FakeSource source;
        CMainFrame frame(nullptr, &reread);
        QCOMPARE(frame.ApplicationLook(), 32827);
        QVERIFY(frame.CommandAction(32827)->isChecked());
        for (int id : {124, 125, 126})
            FakeObject::AddChildren(frame.Pane(id)->Tree()->invisibleRootItem(), 2, nullptr, &source);
        // The items whose report is alive: always exactly the one shown.
        const auto reported = [&frame] {
            QList<QTreeWidgetItem*> items;
            for (int id : {124, 125, 126})
                for (int i = 0; i < frame.Pane(id)->Tree()->topLevelItemCount(); ++i)
                    if (QTreeWidgetItem* item = frame.Pane(id)->Tree()->topLevelItem(i); FakeOf(item)->lastReport)
                        items << item;
            return items;
        };
        // As at start-up: the first report goes to the current pane before the window shows which pane the layout put
        // in front.
        frame.View()->OnInitialUpdate();
        QTreeWidgetItem* program = frame.Pane(126)->Tree()->topLevelItem(0);
        QVERIFY(reported() == QList{program});
        QVERIFY(Shown(frame));
        QTRY_COMPARE(frame.CurrentPaneId(), 124);
        QTreeWidgetItem* user = frame.Pane(124)->Tree()->topLevelItem(0);
        QVERIFY(reported() == QList{user});
        QCOMPARE(frame.Pane(126)->CurrentObject(), nullptr);

        // A tab change closes the old report and shows the new one; back to a pane its report is made again.
        ShowFront(frame, 125);
        QVERIFY(reported() == QList{frame.Pane(125)->Tree()->topLevelItem(0)});
        QCOMPARE(frame.Pane(124)->CurrentObject(), nullptr);
        QCOMPARE(frame.GetActiveTreePane(), frame.Pane(125));
        ShowFront(frame, 124);
        QVERIFY(reported() == QList{user});
        QCOMPARE(frame.Pane(124)->CurrentObject(), TreeObjectOf(user));
        ShowFront(frame, 126);
        QVERIFY(reported() == QList{program});
        frame.ReleaseTrees();
        QCOMPARE(FakeObject::live, 0);
    }

    // A server that fails leaves no report of the old one shown; one that answers shows its first item's.
    void reconnectFromOptionsShowsNoStaleReportThenTheNewFirstItem() {
        const auto north = Server(u"anna", u"WS-NORTH"), south = Server(u"ben", u"WS-SOUTH");
        CQVViewerDoc doc(*hive);
        doc.SetActivator([&](std::string_view name) {
            const auto state = name == "north" ? north : name == "south" ? south : nullptr;
            if (!state) return ActivationResult{E_FAIL, "no such server", nullptr};
            return ActivationResult{S_OK, {}, std::make_shared<FakeServer>(state)};
        });
        MessageCapture messages;
        CMainFrame frame(&doc, hive.get());
        doc.SetHost(&frame);
        WriteServerName(*hive, u"north");
        QVERIFY(doc.OnNewDocument());
        CRightView& view = *frame.View();
        view.OnInitialUpdate();
        QVERIFY(Shown(frame));
        ShowFront(frame, kIdPaneUsers);
        const auto firstSlice = [&view] { return view.Chart()->Series()->slices().at(0)->label(); };
        QCOMPARE(view.CaptionLine()->text(), QStringLiteral("anna"));
        QCOMPARE(firstSlice(), QStringLiteral("WS-NORTH"));

        CPPageServer page(&doc, hive.get());
        page.OnInitDialog();
        page.ServerEdit()->setText(QStringLiteral("nowhere"));
        QVERIFY(page.OnOK());
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QCOMPARE(frame.Pane(kIdPaneUsers)->Tree()->topLevelItemCount(), 0);
        QVERIFY(view.CaptionLine()->text().isEmpty() && view.CaptionIcon()->pixmap().isNull());
        QCOMPARE(view.Grid()->GetRowCount(), 0);
        QCOMPARE(view.Chart()->Series()->count() + view.Chart()->Legend()->count(), 0);

        page.ServerEdit()->setText(QStringLiteral("south"));
        QVERIFY(page.OnOK());
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QTreeWidget* users = frame.Pane(kIdPaneUsers)->Tree();
        QVERIFY(users->topLevelItemCount() == 1 && users->currentItem() == users->topLevelItem(0));
        QCOMPARE(view.CaptionLine()->text(), QStringLiteral("ben"));
        QCOMPARE(view.Grid()->GetRowCount(), 1);
        QCOMPARE(firstSlice(), QStringLiteral("WS-SOUTH"));
        frame.ReleaseTrees();
    }

    void closingDuringAPendingCallDropsItsAnswer() {
        CMainFrame frame(nullptr, hive.get());
        QVERIFY(Shown(frame));
        const QString idle = frame.FrameStatusBar()->MessagePane()->text();
        auto service = std::make_shared<FakeServiceState>();
        FakeQVQuery fake(service);
        QString shownDuringWait;
        const StalledCall call{[&] {
            shownDuringWait = frame.FrameStatusBar()->MessagePane()->text();
            frame.close();
        }};
        service->infoCall = call;
        ProgramInfoRequest request;
        request.programId = 9;
        HRESULT status = S_OK;
        try {
            RunProgramInfoQuery(&fake, request);
        } catch (const DataAccessError& error) {
            status = error.Status();
        }
        QVERIFY(status == E_ABORT && !*call.timedOut);  // the close ended the wait, not the deadline
        QCOMPARE(shownDuringWait, QStringLiteral("Waiting for the Quorvis Service: information on program 9..."));
        QCOMPARE(frame.FrameStatusBar()->MessagePane()->text(), idle);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);  // the wait cursor is gone
        QVERIFY(ServiceCallsAbandoned());
        InstallUiCallWaiter();  // as the next document would
        RemoveUiCallWaiter();
        QVERIFY(!ServiceCallsAbandoned());
    }

private:
    QTemporaryDir dir;
    std::unique_ptr<HiveStore> hive;
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_qtest.moc"
