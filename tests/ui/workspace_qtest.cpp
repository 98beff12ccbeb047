// Panes joined as tabs, the workspace kept in the hive, and the looks.
#include "platform/hive_key.h"
#include "platform/hive_store.h"
#include "ui/command_manager.h"
#include "ui/dockable_pane.h"
#include "ui/pane_tab_group.h"
#include "ui/profile_store.h"
#include "ui/toolbar_manager.h"
#include "ui/visual_look.h"
#include "ui/workspace_state.h"

#include <QApplication>
#include <QMainWindow>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

namespace {

constexpr int kRefresh = 32844;

// A window as the frame builds it: three panes as tabs, a standard toolbar.
struct Window {
    QMainWindow window;
    CCommandManager commands{&window};
    CToolbarManager toolbars{&window, commands};
    CPaneTabGroup* group = new CPaneTabGroup(&window);
    QList<CDockablePane*> panes;

    Window() {
        commands.Add(kRefresh, QStringLiteral("View"), QStringLiteral("Refresh\tF5"), [] {});
        toolbars.CreateStandard(QStringLiteral("Toolbar128"), QStringLiteral("Standard"), {kRefresh});
        window.setCentralWidget(new QWidget(&window));
        for (int id : {124, 125, 126}) {
            auto* pane = new CDockablePane(id, QStringLiteral("Pane %1").arg(id), &window);
            pane->setWidget(new QWidget(pane));
            panes.append(pane);
        }
        group->Join(Qt::LeftDockWidgetArea, panes);
        window.resize(640, 480);
    }
};

}  // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT

private slots:
    void eachFrontTabChangeIsReportedOnce() {
        Window w;
        QSignalSpy changes(w.group, &CPaneTabGroup::ActiveTabChanged);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QTRY_COMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).value<CDockablePane*>(), w.panes.last());  // the last joined is in front
        QCOMPARE(w.window.tabifiedDockWidgets(w.panes.first()).size(), 2);

        w.panes.first()->BringToFront();
        QTRY_COMPARE(changes.count(), 2);
        QCOMPARE(w.group->FrontPane(), w.panes.first());
        w.panes.first()->BringToFront();
        w.window.hide();
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QApplication::processEvents();
        QCOMPARE(changes.count(), 2);  // no change, no report

        w.panes.at(1)->BringToFront();
        QTRY_COMPARE(changes.count(), 3);
        QCOMPARE(w.group->FrontPane(), w.panes.at(1));
    }

    void theLayoutToolbarsAndKeysComeBackFromTheHive() {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("user.reg")).toStdString();
        {
            HiveStore hive(path);
            Window w;
            w.window.show();
            w.panes.at(2)->close();
            w.toolbars.CreateUserToolbar(QStringLiteral("Mine"));
            w.toolbars.SetButtons(w.toolbars.UserToolbar(0), {kRefresh});
            w.commands.SetKeys(kRefresh, {QKeySequence(Qt::Key_F5)});
            CWorkspaceState state(&hive, w.window, w.commands, w.toolbars);
            QVERIFY(state.Save());
        }
        HiveStore hive(path);
        QCOMPARE(hive.Load(), HiveStore::LoadResult::Loaded);
        QVERIFY(hive.OpenKey(u"Software\\Marrowind Software\\QVViewer\\Settings\\Workspace", false));

        Window w;
        CWorkspaceState state(&hive, w.window, w.commands, w.toolbars);
        QVERIFY(state.Restore());
        w.window.show();
        QVERIFY(w.panes.at(2)->isHidden());
        QVERIFY(!w.panes.at(0)->isHidden());
        QVERIFY(w.toolbars.UserToolbar(0));
        QCOMPARE(w.toolbars.UserToolbar(0)->windowTitle(), QStringLiteral("Mine"));
        QVERIFY(!w.toolbars.UserToolbar(0)->isHidden());
        QCOMPARE(w.commands.CommandForKey(QKeySequence(Qt::Key_F5)), kRefresh);

        // Damaged layout bytes: ignored, the built-in layout stays.
        const std::uint8_t junk[] = {1, 2, 3, 4, 5};
        OpenProfileKey(&hive, u"Workspace", false)->SetBinary(u"MainWindowState", junk);
        Window fresh;
        CWorkspaceState damaged(&hive, fresh.window, fresh.commands, fresh.toolbars);
        QVERIFY(!damaged.Restore());
        QVERIFY(!fresh.panes.at(2)->isHidden());

        CWorkspaceState none(nullptr, fresh.window, fresh.commands, fresh.toolbars);
        QVERIFY(!none.Save());
        QVERIFY(!none.Restore());
    }

    void looksAreStylesAndPalettesKeptAsApplicationLook() {
        QTemporaryDir dir;
        HiveStore hive(dir.filePath(QStringLiteral("user.reg")).toStdString());
        QCOMPARE(ReadApplicationLook(nullptr), 32830);
        OpenProfileKey(&hive, {}, true)->SetDword(kApplicationLookValue, 5);
        QCOMPARE(ReadApplicationLook(&hive), 32830);  // not a look: the default

        QMainWindow window;
        QVERIFY(!ApplyVisualLook(32825, &window));
        // Each look its own palette; only the last animates docking.
        QSet<QRgb> windows;
        for (int id = 32826; id <= 32830; ++id) {
            QVERIFY(ApplyVisualLook(id, &window));
            QCOMPARE(QApplication::style()->name(), id == 32826 ? "windows" : "fusion");
            windows.insert(QApplication::palette().color(QPalette::Window).rgba());
            QCOMPARE(window.dockOptions().testFlag(QMainWindow::AnimatedDocks), id == 32830);
        }
        QCOMPARE(windows.size(), 5);
    }
};

QTEST_MAIN(WorkspaceTest)
#include "workspace_qtest.moc"
