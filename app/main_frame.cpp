#include "app/main_frame.h"

#include "app/frame_status_bar.h"
#include "app/period_rules.h"
#include "app/qv_viewer_app.h"
#include "platform/ole_date.h"
#include "reports/right_view.h"
#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/ui_call_waiter.h"
#include "trees/tree_object.h"
#include "trees/workspace_bar.h"
#include "ui/command_manager.h"
#include "ui/context_menu_manager.h"
#include "ui/pane_tab_group.h"
#include "ui/toolbar_manager.h"
#include "ui/visual_look.h"
#include "ui/workspace_state.h"

#include <QCloseEvent>
#include <QScreen>
#include <QTimer>

#include <exception>

namespace {

constexpr int kPaneIconSize = 16;
// Room for the tree panes and the report form side by side.
constexpr int kInitialWidth = 1220;
constexpr int kInitialHeight = 780;
constexpr int kCommandUpdateMs = 250;

HiveStore* ApplicationHive(HiveStore* given) {
    if (given) return given;
    CQVViewerApp* app = TheApp();
    return app ? &app->Hive() : nullptr;
}

}  // namespace

CMainFrame::CMainFrame(CQVViewerDoc* doc, HiveStore* hive, QWidget* parent)
    : QMainWindow(parent),
      doc_(doc),
      view_(nullptr),
      period_(InitialPeriod(OleDateNow())),
      hive_(ApplicationHive(hive)),
      commands_(new CCommandManager(this)),
      toolbars_(new CToolbarManager(this, *commands_)),
      contextMenus_(new CContextMenuManager(*commands_, this)),
      lookId_(ReadApplicationLook(hive_)) {
    setObjectName(QStringLiteral("MainFrame"));
    setDockNestingEnabled(true);
    OnApplicationLook(lookId_);
    CreateCommands();
    CreateMenus();
    CreateToolBar();
    statusBar_ = new CFrameStatusBar(this);
    setStatusBar(statusBar_);
    SetWaitNotice([bar = statusBar_](const QString& text) { bar->ShowWaitNotice(text); });
    CreatePanes();
    view_ = new CRightView(this, this);
    setCentralWidget(view_);
    QSize initial(kInitialWidth, kInitialHeight);
    if (const QScreen* display = screen()) initial = initial.boundedTo(display->availableGeometry().size());
    resize(initial);

    workspace_ = std::make_unique<CWorkspaceState>(hive_, *this, *commands_, *toolbars_);
    RestoreLayout();
    CreateContextMenus();
    UpdateFrameTitle();
    // A reconnection shows a report as start-up does; start-up's own first
    // report is the view's first showing.
    if (doc_)
        connect(doc_, &CQVViewerDoc::Connected, this, [this] {
            if (view_->Initialised()) SelectFirstItem();
        });

    // Enabled and checked states follow the window, as an idle update would.
    auto* updater = new QTimer(this);
    connect(updater, &QTimer::timeout, this, &CMainFrame::UpdateCommandStates);
    updater->start(kCommandUpdateMs);
    UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
    SetWaitNotice({});
    ReleaseTrees();
    // The panes are hidden while the window part is destroyed; their
    // signals must no longer reach this part of the object.
    disconnect(tabGroup_, nullptr, this, nullptr);
    for (const auto& [id, pane] : panes_) disconnect(pane->toggleViewAction(), nullptr, this, nullptr);
}

void CMainFrame::CreatePanes() {
    const QPixmap usersIcon = LoadResIcon(kIdiUsersPane, kPaneIconSize);
    const QPixmap computersIcon = LoadResIcon(kIdiComputersPane, kPaneIconSize);
    const QPixmap applicationsIcon = LoadResIcon(kIdiApplicationsPane, kPaneIconSize);

    usersPane_ = new CWorkSpaceBarUsers(this);
    computersPane_ = new CWorkSpaceBarComputers(this);
    applicationsPane_ = new CWorkSpaceBarApplications(this);
    const std::pair<CWorkSpaceBar*, QPixmap> panes[] = {
        {usersPane_, usersIcon}, {computersPane_, computersIcon}, {applicationsPane_, applicationsIcon}};
    for (const auto& [pane, icon] : panes) {
        pane->SetDocument(doc_);
        pane->setWindowIcon(QIcon(icon));
        panes_[pane->PaneId()] = pane;
        currentPaneId_ = pane->PaneId();
        connect(pane->toggleViewAction(), &QAction::toggled, this, &CMainFrame::UpdateCommandStates);
    }

    tabGroup_ = new CPaneTabGroup(this);
    tabGroup_->Join(Qt::LeftDockWidgetArea, {usersPane_, computersPane_, applicationsPane_});
    connect(tabGroup_, &CPaneTabGroup::ActiveTabChanged, this, &CMainFrame::OnChangeActiveTab);
}

CWorkSpaceBar* CMainFrame::PaneOf(TreeId tree) const {
    switch (tree) {
        case Users: return usersPane_;
        case Computers: return computersPane_;
        case Applications: return applicationsPane_;
    }
    return nullptr;
}

QTreeWidget* CMainFrame::Tree(TreeId tree) {
    CWorkSpaceBar* pane = PaneOf(tree);
    return pane ? pane->Tree() : nullptr;
}

void CMainFrame::RefreshRoot(TreeId tree) {
    if (CWorkSpaceBar* pane = PaneOf(tree)) pane->Tree()->RefreshRoot();
}

void CMainFrame::ResetCurrentObject(TreeId tree) {
    if (CWorkSpaceBar* pane = PaneOf(tree)) pane->ResetCurrentObject();
}

void CMainFrame::PostCommand(int commandId) {
    QMetaObject::invokeMethod(
        this, [this, commandId] { OnCommand(commandId); }, Qt::QueuedConnection);
}

CWorkSpaceBar* CMainFrame::Pane(int paneId) const {
    const auto it = panes_.find(paneId);
    return it == panes_.end() ? nullptr : it->second;
}

CWorkSpaceBar* CMainFrame::GetActiveTreePane() const { return panes_.empty() ? nullptr : Pane(currentPaneId_); }

void CMainFrame::OnChangeActiveTab(CDockablePane* pane) {
    auto* bar = qobject_cast<CWorkSpaceBar*>(pane);
    if (changingTab_ || !bar) return;
    changingTab_ = true;
    // Every other pane, not only the last one reported: the first report is
    // made for the current pane before any tab change is reported, and a
    // restored layout may put another pane in front.
    for (const auto& [id, pane] : panes_)
        if (pane != bar) pane->CloseReport();
    lastPaneId_ = currentPaneId_ = bar->PaneId();
    bar->ShowSelectedReport();
    changingTab_ = false;
}

void CMainFrame::SelectChildById(quint32 id) {
    if (CWorkSpaceBar* pane = GetActiveTreePane()) pane->SelectChildById(id);
}

void CMainFrame::SelectFirstItem() {
    if (CWorkSpaceBar* pane = GetActiveTreePane()) pane->SelectFirstItem();
}

bool CMainFrame::GetPeriod(ReportPeriod& period) {
    if (CQVViewerApp* app = TheApp()) return app->GetPeriod(period);
    RecomputePeriod(period_, OleDateNow());
    period = period_;
    return true;
}

bool CMainFrame::SetPeriod(const ReportPeriod& period) {
    if (CQVViewerApp* app = TheApp()) return app->SetPeriod(period);
    period_ = period;
    return true;
}

CTreeObject* CMainFrame::GetSelectedObject() {
    CWorkSpaceBar* pane = GetActiveTreePane();
    return pane ? pane->GetSelectedObject() : nullptr;
}

void CMainFrame::OnRefresh() {
    if (CWorkSpaceBar* pane = GetActiveTreePane()) pane->ReloadTree();
}

void CMainFrame::TogglePane(int paneId) {
    CWorkSpaceBar* pane = Pane(paneId);
    if (!pane) return;
    if (pane->toggleViewAction()->isChecked())
        pane->close();
    else
        pane->BringToFront();
    UpdateCommandStates();
}

void CMainFrame::OnApplicationLook(int lookId) {
    if (!IsLookId(lookId)) return;
    lookId_ = lookId;
    ApplyVisualLook(lookId, this);
    update();
    WriteApplicationLook(hive_, lookId);
    if (QAction* action = commands_->Action(lookId)) action->setChecked(true);
}

void CMainFrame::UpdateFrameTitle() {
    settingTitle_ = true;
    setWindowTitle(LoadResString(kIdsAppTitle));
    settingTitle_ = false;
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange && !settingTitle_ && windowTitle() != LoadResString(kIdsAppTitle))
        UpdateFrameTitle();
}

void CMainFrame::SaveLayout() {
    if (workspace_) workspace_->Save();
}

bool CMainFrame::RestoreLayout() { return workspace_ && workspace_->Restore(); }

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Closed while a call is pending: the viewer exits once it returns.
    if (ServiceCallPending()) AbandonServiceCalls();
    SaveLayout();
    event->accept();
}

void CMainFrame::ReleaseTrees() {
    for (CWorkSpaceBar* pane : {computersPane_, usersPane_, applicationsPane_})
        if (pane) pane->ClearTree();
}
