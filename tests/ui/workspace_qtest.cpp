// Commands with user keys, user toolbars and the Customize dialog; panes joined as tabs, damaged layouts, the looks.
#include "platform/hive_key.h"
#include "platform/hive_store.h"
#include "ui/command_manager.h"
#include "ui/customize_dialog.h"
#include "ui/dockable_pane.h"
#include "ui/pane_tab_group.h"
#include "ui/profile_store.h"
#include "ui/toolbar_manager.h"
#include "ui/visual_look.h"
#include "ui/workspace_state.h"

#include <QApplication>
#include <QComboBox>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

namespace {

constexpr int kFind = 57636;
constexpr int kRefresh = 32844;
constexpr int kExit = 57665;

// A window as the frame builds it: three commands (Find counts its runs), a standard toolbar, three panes as tabs.
struct Window {
    QMainWindow window;
    CCommandManager commands{&window};
    CToolbarManager toolbars{&window, commands};
    CPaneTabGroup* group = new CPaneTabGroup(&window);
    QList<CDockablePane*> panes;
    int finds = 0;

    explicit Window(const QList<int>& standard = {kFind}) {
        commands.Add(kFind, QStringLiteral("Edit"), QStringLiteral("Find\tCtrl+F"), [this] { ++finds; },
                     {QKeySequence(Qt::CTRL | Qt::Key_F)});
        commands.Add(kRefresh, QStringLiteral("View"), QStringLiteral("Refresh\tF5"), [] {});
        commands.Add(kExit, QStringLiteral("File"), QStringLiteral("E&xit"), [] {});
        toolbars.CreateStandard(QStringLiteral("Toolbar128"), QStringLiteral("Standard"), standard);
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
    void keysMoveBetweenCommandsAndTheyAndUpToTenUserToolbarsSurviveTheHive() {
        Window frame({kFind, 0, kRefresh, 777});
        QCOMPARE(frame.commands.DisplayText(kExit), QStringLiteral("Exit"));
        QVERIFY(frame.commands.Execute(kFind) && frame.finds == 1 && !frame.commands.Execute(12345));

        const QKeySequence ctrlF(Qt::CTRL | Qt::Key_F);
        QCOMPARE(frame.commands.CommandForKey(ctrlF), kFind);
        frame.commands.SetKeys(kRefresh, {ctrlF});
        QVERIFY(frame.commands.CommandForKey(ctrlF) == kRefresh && frame.commands.CurrentKeys(kFind).isEmpty());
        QCOMPARE(frame.commands.Action(kRefresh)->text(), "Refresh\t" + ctrlF.toString(QKeySequence::NativeText));

        HiveKey key(u"Keyboard", 0);
        key.SetString(u"stale", u"x");
        frame.commands.SaveKeys(key);
        QCOMPARE(key.ValueNames().size(), 2u);  // only the two changed commands

        Window other;
        key.SetString(u"notanumber", u"Ctrl+Q");
        key.SetString(u"4242", u"Ctrl+Q");
        other.commands.LoadKeys(key);
        QVERIFY(other.commands.CommandForKey(ctrlF) == kRefresh && other.commands.CurrentKeys(kFind).isEmpty());

        other.commands.ResetKeys();
        QCOMPARE(other.commands.CommandForKey(ctrlF), kFind);
        QCOMPARE(other.commands.Action(kRefresh)->text(), QStringLiteral("Refresh\tF5"));

        QCOMPARE(frame.toolbars.Buttons(frame.toolbars.Standard()), QList<int>({kFind, 0, kRefresh}));  // 777: none

        for (int i = 0; i < CToolbarManager::kMaxUserToolbars; ++i)
            QVERIFY(frame.toolbars.CreateUserToolbar(QStringLiteral("Mine %1").arg(i)));
        QVERIFY(!frame.toolbars.CreateUserToolbar(QStringLiteral("Eleventh")));
        QVERIFY(frame.toolbars.DeleteUserToolbar(3) && !frame.toolbars.UserToolbar(3));
        QToolBar* again = frame.toolbars.CreateUserToolbar(QStringLiteral("Again"));
        QVERIFY(frame.toolbars.UserIndex(again) == 3 && again->objectName() == "UserToolbar4");  // the first free place
        QVERIFY(!frame.toolbars.RenameUserToolbar(3, QStringLiteral("  ")) &&
                frame.toolbars.RenameUserToolbar(3, QStringLiteral("Renamed")));
        frame.toolbars.SetButtons(again, {kExit, kFind});
        frame.toolbars.SetButtons(frame.toolbars.Standard(), {kRefresh});

        HiveKey bars(u"Toolbars", 0);
        frame.toolbars.Save(bars);
        other.toolbars.CreateUserToolbar(QStringLiteral("Replaced"));
        bars.SetString(u"User2Buttons", u"57665,junk,99999");
        other.toolbars.Load(bars);
        QCOMPARE(other.toolbars.Toolbars().size(), 11);
        QVERIFY(other.toolbars.UserToolbar(3)->windowTitle() == "Renamed" &&
                other.toolbars.UserToolbar(0)->windowTitle() == "Mine 0");
        QCOMPARE(other.toolbars.Buttons(other.toolbars.UserToolbar(3)), QList<int>({kExit, kFind}));
        QCOMPARE(other.toolbars.Buttons(other.toolbars.UserToolbar(1)), QList<int>({kExit}));
        QCOMPARE(other.toolbars.Buttons(other.toolbars.Standard()), QList<int>({kRefresh}));
        other.toolbars.ResetStandard();
        QCOMPARE(other.toolbars.Buttons(other.toolbars.Standard()), QList<int>({kFind}));
    }

    void theDialogPutsCommandsOnToolbarsAndAssignsKeys() {
        Window frame;
        QToolBar* mine = frame.toolbars.CreateUserToolbar(QStringLiteral("Mine"));

        CCustomizeDialog dialog(frame.commands, frame.toolbars, &frame.window);
        QCOMPARE(dialog.Tabs()->count(), 3);

        auto* page = dialog.findChild<QWidget*>(QStringLiteral("CommandsPage"));
        auto* commandList = page->findChild<QListWidget*>(QStringLiteral("Commands"));
        auto* toolbarBox = page->findChild<QComboBox*>(QStringLiteral("Toolbar"));
        page->findChild<QListWidget*>(QStringLiteral("Categories"))->setCurrentRow(1);  // "View": Refresh
        toolbarBox->setCurrentIndex(toolbarBox->findText(QStringLiteral("Mine")));
        QCOMPARE(commandList->currentItem()->data(Qt::UserRole).toInt(), kRefresh);
        page->findChild<QPushButton*>(QStringLiteral("Add"))->click();
        page->findChild<QPushButton*>(QStringLiteral("AddSeparator"))->click();
        QCOMPARE(frame.toolbars.Buttons(mine), QList<int>({kRefresh, 0}));
        page->findChild<QPushButton*>(QStringLiteral("MoveUp"))->click();
        QCOMPARE(frame.toolbars.Buttons(mine), QList<int>({0, kRefresh}));
        page->findChild<QPushButton*>(QStringLiteral("Remove"))->click();
        QCOMPARE(frame.toolbars.Buttons(mine), QList<int>({kRefresh}));

        auto* toolbarsPage = dialog.findChild<QWidget*>(QStringLiteral("ToolbarsPage"));
        auto* list = toolbarsPage->findChild<QListWidget*>(QStringLiteral("ToolbarList"));
        QCOMPARE(list->count(), 2);
        list->item(1)->setCheckState(Qt::Unchecked);
        QVERIFY(mine->isHidden());
        list->setCurrentRow(1);
        toolbarsPage->findChild<QPushButton*>(QStringLiteral("Delete"))->click();
        QVERIFY(!frame.toolbars.UserToolbar(0) && list->count() == 1);

        auto* keys = dialog.findChild<QWidget*>(QStringLiteral("KeyboardPage"));
        auto* category = keys->findChild<QComboBox*>(QStringLiteral("Category"));
        category->setCurrentIndex(category->findText(QStringLiteral("View")));
        keys->findChild<QKeySequenceEdit*>(QStringLiteral("NewKey"))->setKeySequence(QKeySequence(Qt::Key_F5));
        keys->findChild<QPushButton*>(QStringLiteral("Assign"))->click();
        QCOMPARE(frame.commands.CommandForKey(QKeySequence(Qt::Key_F5)), kRefresh);
        QCOMPARE(keys->findChild<QListWidget*>(QStringLiteral("CurrentKeys"))->count(), 1);
        keys->findChild<QPushButton*>(QStringLiteral("ResetAll"))->click();
        QCOMPARE(frame.commands.CommandForKey(QKeySequence(Qt::Key_F5)), 0);
    }

    void eachFrontTabChangeIsReportedOnce() {
        Window w;
        QSignalSpy changes(w.group, &CPaneTabGroup::ActiveTabChanged);
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QTRY_COMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).value<CDockablePane*>(), w.panes.last());  // the last joined is in front
        QCOMPARE(w.window.tabifiedDockWidgets(w.panes.first()).size(), 2);

        w.panes.first()->BringToFront();
        QTRY_VERIFY(changes.count() == 2 && w.group->FrontPane() == w.panes.first());
        w.panes.first()->BringToFront();
        w.window.hide();
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QApplication::processEvents();
        QCOMPARE(changes.count(), 2);  // no change, no report

        w.panes.at(1)->BringToFront();
        QTRY_VERIFY(changes.count() == 3 && w.group->FrontPane() == w.panes.at(1));
    }

    // The layout's round trip is MainFrameTest's.
    void looksAreStylesAndPalettesKeptAsApplicationLookAndDamagedLayoutsAreIgnored() {
        QTemporaryDir dir;
        HiveStore hive(dir.filePath(QStringLiteral("user.reg")).toStdString());
        QCOMPARE(ReadApplicationLook(nullptr), 32830);
        OpenProfileKey(&hive, {}, true)->SetDword(kApplicationLookValue, 5);
        QCOMPARE(ReadApplicationLook(&hive), 32830);  // not a look: the default

        const std::uint8_t junk[] = {1, 2, 3, 4, 5};
        OpenProfileKey(&hive, u"Workspace", true)->SetBinary(u"MainWindowState", junk);
        Window fresh;
        CWorkspaceState damaged(&hive, fresh.window, fresh.commands, fresh.toolbars);
        QVERIFY(!damaged.Restore() && !fresh.panes.at(2)->isHidden());
        CWorkspaceState none(nullptr, fresh.window, fresh.commands, fresh.toolbars);
        QVERIFY(!none.Save() && !none.Restore());

        QVERIFY(!ApplyVisualLook(32825, &fresh.window));
        // Each look its own palette; only the last animates docking.
        QSet<QRgb> windows;
        for (int id = 32826; id <= 32830; ++id) {
            QVERIFY(ApplyVisualLook(id, &fresh.window));
            QCOMPARE(QApplication::style()->name(), id == 32826 ? "windows" : "fusion");
            windows.insert(QApplication::palette().color(QPalette::Window).rgba());
            QCOMPARE(fresh.window.dockOptions().testFlag(QMainWindow::AnimatedDocks), id == 32830);
        }
        QCOMPARE(windows.size(), 5);
    }
};

QTEST_MAIN(WorkspaceTest)
#include "workspace_qtest.moc"
