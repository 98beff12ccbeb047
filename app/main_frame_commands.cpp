// The frame's commands: their ids, menu texts and keys, the menu bar, the
// standard toolbar, and where each command goes.
#include "app/main_frame.h"

#include "app/about_dlg.h"
#include "app/options_sheet.h"
#include "app/qv_viewer_app.h"
#include "reports/qv_grid.h"
#include "reports/right_view.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/qv_viewer_doc.h"
#include "trees/workspace_bar.h"
#include "ui/command_manager.h"
#include "ui/command_target.h"
#include "ui/context_menu_manager.h"
#include "ui/customize_dialog.h"
#include "ui/toolbar_manager.h"
#include "ui/visual_look.h"

#include <QActionGroup>
#include <QApplication>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace {

using Keys = CCommandManager::Keys;

QKeySequence Key(QKeyCombination combination) { return QKeySequence(combination); }

constexpr int Id(unsigned id) { return static_cast<int>(id); }

const QString kFile = QStringLiteral("File");
const QString kEdit = QStringLiteral("Edit");
const QString kView = QStringLiteral("View");
const QString kTools = QStringLiteral("Tools");
const QString kHelp = QStringLiteral("Help");

}  // namespace

void CMainFrame::CreateCommands() {
    CCommandManager& c = *commands_;
    c.Add(Id(kIdFileExportReport), kFile, QStringLiteral("Export Report..."),
          [this] { RouteToView(Id(kIdFileExportReport)); });
    c.Add(Id(kIdFileNew), kFile, QStringLiteral("&New"), [this] { OnNewDocument(); }, {Key(Qt::CTRL | Qt::Key_N)});
    // No Open (Ctrl+O) and no Save (Ctrl+S): the document holds no file
    // data, so Open would read nothing and Save write an empty file; the
    // report's file is Export Report's.
    c.Add(Id(kIdAppExit), kFile, QStringLiteral("E&xit"), [this] { close(); });

    c.Add(Id(kIdEditFind), kEdit, QStringLiteral("Find\tCtrl+F"), [this] { RouteToView(Id(kIdEditFind)); },
          {Key(Qt::CTRL | Qt::Key_F)});
    c.Add(Id(kIdEditCopy), kEdit, QStringLiteral("&Copy"), [this] { ForwardToFocus("copy"); },
          {Key(Qt::CTRL | Qt::Key_C), Key(Qt::CTRL | Qt::Key_Insert)});
    c.Add(Id(kIdEditCut), kEdit, QStringLiteral("Cu&t"), [this] { ForwardToFocus("cut"); },
          {Key(Qt::CTRL | Qt::Key_X), Key(Qt::SHIFT | Qt::Key_Delete)});
    c.Add(Id(kIdEditPaste), kEdit, QStringLiteral("&Paste"), [this] { ForwardToFocus("paste"); },
          {Key(Qt::CTRL | Qt::Key_V), Key(Qt::SHIFT | Qt::Key_Insert)});
    c.Add(Id(kIdEditUndo), kEdit, QStringLiteral("&Undo"), [this] { ForwardToFocus("undo"); },
          {Key(Qt::CTRL | Qt::Key_Z), Key(Qt::ALT | Qt::Key_Backspace)});

    c.Add(Id(kIdViewToolbar), kView, QStringLiteral("Standard Toolbar"), [this] {
         toolBar_->setVisible(toolBar_->isHidden());
     })->setCheckable(true);
    c.Add(Id(kIdViewStatusBar), kView, QStringLiteral("&Status Bar"), [this] {
         statusBar()->setVisible(statusBar()->isHidden());
     })->setCheckable(true);
    const std::pair<unsigned, const char*> paneCommands[] = {{kIdViewUsersTree, "Users Tree"},
                                                             {kIdViewComputersTree, "Computers Tree"},
                                                             {kIdViewApplicationsTree, "Applications Tree"}};
    const unsigned paneIds[] = {kIdPaneUsers, kIdPaneComputers, kIdPaneApplications};
    for (int i = 0; i < 3; ++i) {
        const int paneId = Id(paneIds[i]);
        c.Add(Id(paneCommands[i].first), kView, QLatin1String(paneCommands[i].second), [this, paneId] {
             TogglePane(paneId);
         })->setCheckable(true);
    }
    for (int i = 0; i < kUserToolbarCount; ++i) {
        c.Add(Id(kIdUserToolbarFirst) + i, kView, QStringLiteral("User Toolbar %1").arg(i + 1), [this, i] {
             ToggleUserToolbar(i);
         })->setCheckable(true);
    }
    c.Add(Id(kIdViewRefresh), kView, QStringLiteral("Refresh\tF5"), [this] { OnRefresh(); });
    c.Add(Id(kIdCustomize), kView, QStringLiteral("Customize..."), [this] { OnCustomize(); });
    c.Add(Id(kIdNextPane), kView, QStringLiteral("Next Pane"), [this] { CyclePaneFocus(true); }, {Key(Qt::Key_F6)});
    c.Add(Id(kIdPrevPane), kView, QStringLiteral("Previous Pane"), [this] { CyclePaneFocus(false); },
          {Key(Qt::SHIFT | Qt::Key_F6)});
    auto* looks = new QActionGroup(this);
    const char* lookNames[] = {"Windows 2000", "Office XP", "Office 2003", "Windows XP", "Visual Studio 2005"};
    for (int id = kFirstLookId; id <= kLastLookId; ++id) {
        QAction* look = c.Add(id, kView, QStringLiteral("%1 Look").arg(QLatin1String(lookNames[id - kFirstLookId])),
                              [this, id] { OnApplicationLook(id); });
        look->setCheckable(true);
        look->setChecked(id == lookId_);
        looks->addAction(look);
    }

    c.Add(Id(kIdToolsOptions), kTools, QStringLiteral("Options..."), [this] { OnOptions(); });
    c.Add(Id(kIdAppAbout), kHelp, QStringLiteral("&About QVViewer..."), [this] { OnAbout(); });

    for (int id : c.Ids()) {
        QAction* action = c.Action(id);
        action->setToolTip(c.DisplayText(id));
        action->setStatusTip(c.DisplayText(id));
    }
}

void CMainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MenuBar%1").arg(kIdrMainFrame));
    auto action = [this](unsigned id) { return commands_->Action(Id(id)); };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(action(kIdFileExportReport));
    file->addSeparator();
    file->addAction(action(kIdAppExit));

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(action(kIdEditFind));

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    QMenu* toolbars = view->addMenu(QStringLiteral("&Toolbars"));
    toolbars->menuAction()->setData(Id(kIdToolbarsPlaceholder));
    connect(toolbars, &QMenu::aboutToShow, this, [this, toolbars] { FillToolbarsMenu(toolbars); });
    view->addAction(action(kIdViewStatusBar));
    view->addSeparator();
    view->addAction(action(kIdViewRefresh));

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    tools->addAction(action(kIdToolsOptions));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(action(kIdAppAbout));

    for (QMenu* menu : {file, edit, view, toolbars, tools, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::CreateToolBar() {
    QList<int> layout;
    for (unsigned id : kToolbarLayout) layout.append(Id(id));
    // Images by command, in toolbar order: normal from 152, highlighted from 151.
    const QList<QPixmap> normal = ToolbarButtonImages(kIdbToolbarNormal);
    const QList<QPixmap> hot = ToolbarButtonImages(kIdbToolbarHot);
    int image = 0;
    for (int id : layout) {
        if (id == CToolbarManager::kSeparator) continue;
        QIcon icon;
        if (image < normal.size()) icon.addPixmap(normal.at(image), QIcon::Normal);
        if (image < hot.size()) icon.addPixmap(hot.at(image), QIcon::Active);
        commands_->Action(id)->setIcon(icon);
        ++image;
    }
    toolBar_ = toolbars_->CreateStandard(QStringLiteral("Toolbar%1").arg(kIdrMainFrame), QString(), layout);
    toolBar_->setIconSize(QSize(kToolbarButtonWidth, kToolbarButtonHeight));
    toolBar_->setWindowTitle(LoadResString(kIdsToolbarStandard));
}

void CMainFrame::FillToolbarsMenu(QMenu* menu) {
    UpdateCommandStates();
    menu->clear();
    for (unsigned id : {kIdViewToolbar, kIdViewUsersTree, kIdViewComputersTree, kIdViewApplicationsTree})
        menu->addAction(commands_->Action(Id(id)));
    for (int i = 0; i < kUserToolbarCount; ++i) menu->addAction(commands_->Action(Id(kIdUserToolbarFirst) + i));
}

QMenu* CMainFrame::createPopupMenu() {
    auto* menu = new QMenu(this);
    FillToolbarsMenu(menu);
    menu->addSeparator();
    menu->addAction(commands_->Action(Id(kIdCustomize)));
    return menu;
}

QAction* CMainFrame::CommandAction(int commandId) const { return commands_->Action(commandId); }

bool CMainFrame::OnCommand(int commandId) {
    UpdateCommandStates();
    return commands_->Execute(commandId);
}

void CMainFrame::RouteToView(int commandId) {
    if (auto* view = dynamic_cast<ICommandTarget*>(centralWidget())) view->OnCommand(commandId);
}

namespace {

bool FocusCan(const char* slot) {
    const QWidget* focus = QApplication::focusWidget();
    return focus && focus->metaObject()->indexOfMethod(QMetaObject::normalizedSignature(slot) + "()") >= 0;
}

}  // namespace

void CMainFrame::ForwardToFocus(const char* slot) {
    if (FocusCan(slot)) QMetaObject::invokeMethod(QApplication::focusWidget(), slot);
}

void CMainFrame::CreateContextMenus() {
    const std::pair<unsigned, const char*> edits[] = {
        {kIdEditCut, "cut"}, {kIdEditCopy, "copy"}, {kIdEditPaste, "paste"}};
    QMenu* menu = contextMenus_->AddMenu(QStringLiteral("My menu"), kIdrContextMenu,
                                         {Id(kIdEditCut), Id(kIdEditCopy), Id(kIdEditPaste)});
    // Greyed while shown where the focused widget cannot carry them out;
    // their keys stay live for the widgets that can.
    connect(menu, &QMenu::aboutToShow, this, [this, edits] {
        for (const auto& [id, slot] : edits) commands_->Action(Id(id))->setEnabled(FocusCan(slot));
    });
    connect(menu, &QMenu::aboutToHide, this, [this, edits] {
        for (const auto& [id, slot] : edits) commands_->Action(Id(id))->setEnabled(true);
    });
    CQVGrid* grid = view_->Grid();
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint& pos) {
        contextMenus_->ShowPopupMenu(kIdrContextMenu, grid->viewport()->mapToGlobal(pos));
    });
}

void CMainFrame::ToggleUserToolbar(int index) {
    if (QToolBar* toolbar = toolbars_->UserToolbar(index)) toolbar->setVisible(toolbar->isHidden());
    UpdateCommandStates();
}

void CMainFrame::OnOptions() {
    if (doc_) RunOptionsSheet(this, *doc_);
}

void CMainFrame::OnAbout() {
    if (CQVViewerApp* app = TheApp())
        app->OnAppAbout();
    else
        ShowAboutBox(this);
}

void CMainFrame::OnCustomize() {
    CCustomizeDialog dialog(*commands_, *toolbars_, this);
    dialog.exec();
    UpdateCommandStates();
}

void CMainFrame::OnNewDocument() {
    if (doc_) doc_->OnNewDocument();
}

void CMainFrame::CyclePaneFocus(bool forward) {
    QList<QWidget*> stops;
    if (centralWidget()) stops.append(centralWidget());
    for (const auto& [id, pane] : panes_)
        if (pane->isVisible() && !pane->visibleRegion().isEmpty()) stops.append(pane->Tree());
    if (stops.isEmpty()) return;
    qsizetype at = -1;
    for (qsizetype i = 0; i < stops.size(); ++i)
        if (stops[i]->isAncestorOf(QApplication::focusWidget()) || stops[i] == QApplication::focusWidget()) at = i;
    qsizetype next = forward ? 0 : stops.size() - 1;
    if (at >= 0) next = (at + (forward ? 1 : stops.size() - 1)) % stops.size();
    stops[next]->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::UpdateCommandStates() {
    auto* view = dynamic_cast<ICommandTarget*>(centralWidget());
    for (unsigned id : {kIdFileExportReport, kIdEditFind})
        commands_->Action(Id(id))->setEnabled(view && view->IsCommandEnabled(Id(id)));
    commands_->Action(Id(kIdViewToolbar))->setChecked(toolBar_ && !toolBar_->isHidden());
    commands_->Action(Id(kIdViewStatusBar))->setChecked(!statusBar()->isHidden());
    const std::pair<unsigned, unsigned> paneCommands[] = {{kIdViewUsersTree, kIdPaneUsers},
                                                          {kIdViewComputersTree, kIdPaneComputers},
                                                          {kIdViewApplicationsTree, kIdPaneApplications}};
    for (const auto& [command, paneId] : paneCommands)
        if (CWorkSpaceBar* pane = Pane(Id(paneId)))
            commands_->Action(Id(command))->setChecked(pane->toggleViewAction()->isChecked());
    for (int i = 0; i < kUserToolbarCount; ++i) {
        QAction* action = commands_->Action(Id(kIdUserToolbarFirst) + i);
        const QToolBar* toolbar = toolbars_->UserToolbar(i);
        action->setEnabled(toolbar != nullptr);
        action->setChecked(toolbar && !toolbar->isHidden());
        action->setText(toolbar ? toolbar->windowTitle() : QStringLiteral("User Toolbar %1").arg(i + 1));
    }
}
