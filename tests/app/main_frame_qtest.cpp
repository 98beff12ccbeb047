// The main frame: its command table, panes as tabs, pane toggles, Refresh, the fixed caption, the look and the layout
// kept in the hive.
#include "app/frame_status_bar.h"
#include "app/main_frame.h"
#include "platform/hive_store.h"
#include "reports/qv_grid.h"
#include "reports/right_view.h"
#include "resources/resource_ids.h"
#include "service/data_access_error.h"
#include "service/qv_viewer_doc.h"
#include "tests/service/stalled_call.h"
#include "tests/support/fake_qv_query.h"
#include "tests/support/fake_tree.h"
#include "trees/tree_walk.h"
#include "ui/command_manager.h"
#include "ui/context_menu_manager.h"
#include "ui/toolbar_manager.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

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
        QCOMPARE(frame.tabifiedDockWidgets(frame.Pane(124)).size(), 2);
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
        QCOMPARE(users->topLevelItemCount(), 3);
        QCOMPARE(users->topLevelItem(0)->text(0), QStringLiteral("Name 1"));
        QCOMPARE(users->currentItem(), users->topLevelItem(0));
        QCOMPARE(frame.Pane(124)->CurrentObject(), TreeObjectOf(users->topLevelItem(0)));
        QCOMPARE(frame.Pane(125)->Tree()->topLevelItemCount(), 0);  // only the current pane

        QVERIFY(frame.OnCommand(32844));
        QCOMPARE(queries.size(), 4u);
        QCOMPARE(users->topLevelItemCount(), 3);

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
        // As at start-up: the first report goes to the current pane before the window shows which pane the layout put
        // in front.
        frame.View()->OnInitialUpdate();
        QTreeWidgetItem* program = frame.Pane(126)->Tree()->topLevelItem(0);
        QVERIFY(FakeOf(program)->lastReport);
        QVERIFY(Shown(frame));
        QTRY_COMPARE(frame.CurrentPaneId(), 124);
        QTreeWidgetItem* user = frame.Pane(124)->Tree()->topLevelItem(0);
        QVERIFY(FakeOf(user)->lastReport);
        QVERIFY(!FakeOf(program)->lastReport);
        QCOMPARE(frame.Pane(126)->CurrentObject(), nullptr);

        // A tab change closes the old report and shows the new one.
        ShowFront(frame, 125);
        QVERIFY(!FakeOf(user)->lastReport);
        QCOMPARE(frame.Pane(124)->CurrentObject(), nullptr);
        QTreeWidgetItem* computer = frame.Pane(125)->Tree()->topLevelItem(0);
        QVERIFY(FakeOf(computer)->lastReport);
        QCOMPARE(frame.GetActiveTreePane(), frame.Pane(125));
        ShowFront(frame, 124);
        QVERIFY(!FakeOf(computer)->lastReport);
        QVERIFY(FakeOf(user)->lastReport);
        QCOMPARE(frame.Pane(124)->CurrentObject(), TreeObjectOf(user));

        // Back to Applications: its report is made again, the only one.
        ShowFront(frame, 126);
        QVERIFY(FakeOf(program)->lastReport);
        QVERIFY(!FakeOf(user)->lastReport);
        int alive = 0;
        for (int id : {124, 125, 126})
            for (int i = 0; i < frame.Pane(id)->Tree()->topLevelItemCount(); ++i)
                alive += FakeOf(frame.Pane(id)->Tree()->topLevelItem(i))->lastReport ? 1 : 0;
        QCOMPARE(alive, 1);
        frame.ReleaseTrees();
        QCOMPARE(FakeObject::live, 0);
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
        QCOMPARE(status, E_ABORT);  // the answer was dropped
        QVERIFY(!*call.timedOut);   // the close ended the wait, not the deadline
        QCOMPARE(shownDuringWait, QStringLiteral("Waiting for the Quorvis Service: information on program 9..."));
        QCOMPARE(frame.FrameStatusBar()->MessagePane()->text(), idle);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);  // the wait cursor is gone
        QVERIFY(ServiceCallsAbandoned());
        QCOMPARE(service->infoQueries.size(), 1u);
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
