// The main frame: commands, panes as tabs, toggles, Refresh, the fixed caption, the layout kept, reconnecting.
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

bool Shown(CMainFrame& frame) { return frame.show(), QTest::qWaitForWindowExposed(&frame); }

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
    state->Answer(1, 0, 1, 0, ReportTable({{7, computer, Variant::R8(3.6e6), 5, 9}}));
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

    void panesAndUserToolbarsToggleWithTheirCheckMarksKeysAndLockIndicators() {
        CMainFrame frame(nullptr, hive.get());
        QVERIFY(frame.CurrentPaneId() == 126 && frame.GetActiveTreePane() == frame.Pane(126));
        QVERIFY(Shown(frame));

        QAction* toggle = frame.CommandAction(32845);
        QVERIFY(toggle->isChecked() && frame.OnCommand(32845) && frame.Pane(126)->isHidden() && !toggle->isChecked());
        QVERIFY(frame.CommandAction(32803)->isChecked());  // a pane behind another tab is still shown

        frame.PostCommand(32845);  // queued: runs once the current message is done
        QVERIFY(frame.Pane(126)->isHidden());
        QTRY_VERIFY(!frame.Pane(126)->isHidden() && toggle->isChecked());

        QMenu* toolbarsMenu = frame.menuBar()->actions().at(2)->menu()->actions().at(0)->menu();
        QAction* user1 = frame.CommandAction(32793);
        emit toolbarsMenu->aboutToShow();
        QVERIFY(!user1->isEnabled());  // user toolbar 1 is not defined
        frame.Toolbars().CreateUserToolbar(QStringLiteral("Mine"));
        emit toolbarsMenu->aboutToShow();
        QVERIFY(user1->isEnabled() && user1->isChecked());
        QVERIFY(frame.OnCommand(32793) && frame.Toolbars().UserToolbar(0)->isHidden() && !user1->isChecked());

        // Alternative keys reach the same command; Open and Save have no file to work on: no command, no key.
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::SHIFT | Qt::Key_Insert)), 57637);
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::ALT | Qt::Key_Backspace)), 57643);
        QVERIFY(!frame.Commands().CommandForKey(QKeySequence(Qt::CTRL | Qt::Key_O)) && !frame.CommandAction(57601));
        QVERIFY(!frame.Commands().CommandForKey(QKeySequence(Qt::CTRL | Qt::Key_S)) && !frame.CommandAction(57603));

        CFrameStatusBar* status = frame.FrameStatusBar();
        status->SetLockReader([](CFrameStatusBar::Indicator i) { return i == CFrameStatusBar::kNum; });
        QVERIFY(status->IndicatorPane(CFrameStatusBar::kNum)->isEnabled());
        QVERIFY(!status->IndicatorPane(CFrameStatusBar::kCaps)->isEnabled());
    }

    void exportBeforeAnyReportRefreshReloadsTheCurrentTreeMyMenuCopiesAndTheCaptionStays() {
        const auto service = Server(u"anna", u"WS-01");
        CQVViewerDoc doc(*hive);
        doc.SetService(std::make_unique<FakeQVQuery>(service));
        CMainFrame frame(&doc, hive.get());
        doc.SetHost(&frame);
        QVERIFY(Shown(frame));
        // No report yet: the grid has no columns, and its export (a page without a table) is still offered.
        int exportsAsked = 0;
        SetExportFileChooser([&](QWidget*, const QString&) { return ++exportsAsked, QString(); });  // cancelled
        QVERIFY(frame.OnCommand(32849) && exportsAsked == 1);
        SetExportFileChooser({});
        ShowFront(frame, 124);
        QCOMPARE(frame.Pane(124)->Tree()->topLevelItemCount(), 0);

        // The tree's query, then the report of the item it selects (which item is WorkspaceBarTest's).
        QVERIFY(frame.OnCommand(32844) && service->queries.size() == 2u);
        CWaitingTreeCtrl* users = frame.Pane(124)->Tree();
        QVERIFY(users->topLevelItemCount() == 1 && users->currentItem() == users->topLevelItem(0));
        QCOMPARE(frame.Pane(124)->CurrentObject(), TreeObjectOf(users->topLevelItem(0)));
        QCOMPARE(frame.Pane(125)->Tree()->topLevelItemCount(), 0);  // only the current pane
        QVERIFY(frame.OnCommand(32844) && service->queries.size() == 4u && users->topLevelItemCount() == 1);

        // My menu is the report grid's context menu: it can copy, not cut or paste.
        QMenu* menu = frame.ContextMenus().Menu(130);
        QVERIFY(menu && menu->title() == QStringLiteral("My menu"));
        QList<int> ids;
        for (const QAction* action : menu->actions()) ids << (action->isSeparator() ? 0 : action->data().toInt());
        QCOMPARE(ids, (QList<int>{57635, 57634, 57637}));
        CQVGrid* grid = frame.View()->Grid();
        grid->SetCurSel(0);
        grid->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(grid));
        emit grid->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(frame.CommandAction(57634)->isEnabled() && !frame.CommandAction(57635)->isEnabled() &&
                !frame.CommandAction(57637)->isEnabled());
        QApplication::clipboard()->clear();
        frame.CommandAction(57634)->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("WS-01\t01:00 hours\t5\t9"));
        menu->hide();
        QVERIFY(frame.CommandAction(57635)->isEnabled());  // the keys stay live

        frame.setWindowTitle(QStringLiteral("Untitled - QVViewer"));
        QCOMPARE(frame.windowTitle(), QStringLiteral("QVViewer"));
        for (int id : {32844, 32827, 32830, 32803, 32803, 59393, 59393}) {
            frame.OnCommand(id);
            QCOMPARE(frame.windowTitle(), QStringLiteral("QVViewer"));
        }
        frame.ReleaseTrees();
    }

    void theLookFrontPaneToolbarsAndKeysComeBackAndEachTabChangeLeavesOneReportAlive() {
        {
            CMainFrame frame(nullptr, hive.get());
            QVERIFY(Shown(frame));
            ShowFront(frame, 124);
            QVERIFY(frame.OnCommand(32827) && !frame.CommandAction(32830)->isChecked());
            frame.Toolbars().CreateUserToolbar(QStringLiteral("Mine"));
            frame.Commands().SetKeys(32844, {QKeySequence(Qt::Key_F9)});
            frame.close();
        }
        HiveStore reread(hive->Path());
        QCOMPARE(reread.Load(), HiveStore::LoadResult::Loaded);
        QVERIFY(reread.OpenKey(u"Software\\Marrowind Software\\QVViewer\\Settings\\Workspace", false));
        FakeSource source;
        CMainFrame frame(nullptr, &reread);
        QVERIFY(frame.ApplicationLook() == 32827 && frame.CommandAction(32827)->isChecked());
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
        // As at start-up: the first report goes to the current pane before the layout's front pane shows.
        frame.View()->OnInitialUpdate();
        QTreeWidgetItem* program = frame.Pane(126)->Tree()->topLevelItem(0);
        QVERIFY(reported() == QList{program});
        QVERIFY(Shown(frame));
        QTRY_COMPARE(frame.CurrentPaneId(), 124);
        QVERIFY(frame.Toolbars().UserToolbar(0)->windowTitle() == "Mine" &&
                !frame.Toolbars().UserToolbar(0)->isHidden());
        QCOMPARE(frame.Commands().CommandForKey(QKeySequence(Qt::Key_F9)), 32844);
        QTreeWidgetItem* user = frame.Pane(124)->Tree()->topLevelItem(0);
        QVERIFY(reported() == QList{user});
        QCOMPARE(frame.Pane(126)->CurrentObject(), nullptr);

        // A tab change closes the old report and shows the new one; back to a pane its report is made again.
        ShowFront(frame, 125);
        QVERIFY(reported() == QList{frame.Pane(125)->Tree()->topLevelItem(0)});
        QVERIFY(frame.Pane(124)->CurrentObject() == nullptr && frame.GetActiveTreePane() == frame.Pane(125));
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
        QVERIFY(view.CaptionLine()->text() == QStringLiteral("anna") && firstSlice() == QStringLiteral("WS-NORTH"));
        QTreeWidget* users = frame.Pane(kIdPaneUsers)->Tree();

        CPPageServer page(&doc, hive.get());
        page.OnInitDialog();
        page.ServerEdit()->setText(QStringLiteral("nowhere"));
        QVERIFY(page.OnOK() && messages.messages.size() == 1 && users->topLevelItemCount() == 0);
        QVERIFY(view.CaptionLine()->text().isEmpty() && view.CaptionIcon()->pixmap().isNull());
        QCOMPARE(view.Grid()->GetRowCount() + view.Chart()->Series()->count() + view.Chart()->Legend()->count(), 0);

        page.ServerEdit()->setText(QStringLiteral("south"));
        QVERIFY(page.OnOK());
        QCOMPARE(messages.messages.size(), std::size_t{1});
        QVERIFY(users->topLevelItemCount() == 1 && users->currentItem() == users->topLevelItem(0));
        QVERIFY(view.CaptionLine()->text() == "ben" && view.Grid()->GetRowCount() == 1 && firstSlice() == "WS-SOUTH");
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
        HRESULT status = S_OK;
        try {
            RunProgramInfoQuery(&fake, ProgramInfoRequest{.programId = 9});
        } catch (const DataAccessError& error) {
            status = error.Status();
        }
        QVERIFY(status == E_ABORT && !*call.timedOut);  // the close ended the wait, not the deadline
        QCOMPARE(shownDuringWait, QStringLiteral("Waiting for the Quorvis Service: information on program 9..."));
        // The wait cursor is gone.
        QVERIFY(frame.FrameStatusBar()->MessagePane()->text() == idle && !QGuiApplication::overrideCursor() &&
                ServiceCallsAbandoned());
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
