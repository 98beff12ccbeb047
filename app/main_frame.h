#pragma once
// CMainFrame: the single top-level window. It owns the menu bar, the
// standard toolbar, the status bar and the three tree panes joined as tabs at
// the left, routes the program's commands, tracks the current pane and keeps
// the caption "QVViewer". The document reaches the trees through it.
#include "reports/report_host.h"
#include "service/document_host.h"

#include <QMainWindow>

#include <map>
#include <memory>

class CCommandManager;
class CContextMenuManager;
class CDockablePane;
class CFrameStatusBar;
class CPaneTabGroup;
class CQVViewerDoc;
class CRightView;
class CToolbarManager;
class CWorkSpaceBar;
class CWorkspaceState;
class HiveStore;
class QMenu;
class QToolBar;

class CMainFrame : public QMainWindow, public IDocumentHost, public IReportHost {
    Q_OBJECT
public:
    // The hive keeps the look, the layout and the customisation; without
    // one the application's hive is used (none: nothing is kept).
    explicit CMainFrame(CQVViewerDoc* doc, HiveStore* hive = nullptr, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // IDocumentHost
    QTreeWidget* Tree(TreeId tree) override;
    void RefreshRoot(TreeId tree) override;
    void ResetCurrentObject(TreeId tree) override;
    void PostCommand(int commandId) override;

    // Runs a command as its menu item, button or key does; false when
    // nothing handles it (or it is disabled).
    bool OnCommand(int commandId);
    // The action that carries a command (menu, toolbar, keys); null if none.
    QAction* CommandAction(int commandId) const;
    CCommandManager& Commands() { return *commands_; }
    CToolbarManager& Toolbars() { return *toolbars_; }
    CContextMenuManager& ContextMenus() { return *contextMenus_; }
    QToolBar* StandardToolBar() const { return toolBar_; }
    CFrameStatusBar* FrameStatusBar() const { return statusBar_; }

    // The pane that Refresh and the report view address; null if none.
    CWorkSpaceBar* GetActiveTreePane() const;
    CWorkSpaceBar* Pane(int paneId) const;
    int CurrentPaneId() const { return currentPaneId_; }
    // IReportHost: the period lives in the application (here, without one).
    bool GetPeriod(ReportPeriod& period) override;
    bool SetPeriod(const ReportPeriod& period) override;
    CTreeObject* GetSelectedObject() override;
    void SelectFirstItem() override;
    void SelectChildById(quint32 id) override;

    CRightView* View() const { return view_; }

    int ApplicationLook() const { return lookId_; }
    void OnApplicationLook(int lookId);
    void UpdateFrameTitle();

    // The layout, toolbars and keys in the hive; restore is false when
    // nothing was stored or it did not fit.
    void SaveLayout();
    bool RestoreLayout();

    // Empties the three trees: reports and objects destroyed, items deleted.
    void ReleaseTrees();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The toolbars' context menu: the toolbar list and Customize.
    QMenu* createPopupMenu() override;

private:
    void CreateCommands();
    void CreateMenus();
    void CreateToolBar();
    void CreatePanes();
    // "My menu" (Cut, Copy, Paste), the report grid's context menu.
    void CreateContextMenus();
    void FillToolbarsMenu(QMenu* menu);
    void RouteToView(int commandId);
    void ForwardToFocus(const char* slot);
    void TogglePane(int paneId);
    void ToggleUserToolbar(int index);
    void OnChangeActiveTab(CDockablePane* pane);
    void OnOptions();
    void OnAbout();
    void OnCustomize();
    void OnRefresh();
    void OnNewDocument();
    void CyclePaneFocus(bool forward);
    void UpdateCommandStates();
    CWorkSpaceBar* PaneOf(TreeId tree) const;

    CQVViewerDoc* doc_;                  // not owned
    CRightView* view_;                   // the central widget
    ReportPeriod period_;                // only while there is no application
    HiveStore* hive_;                    // not owned; may be null
    CCommandManager* commands_;          // child of the frame
    CToolbarManager* toolbars_;          // child of the frame
    CContextMenuManager* contextMenus_;  // child of the frame
    std::unique_ptr<CWorkspaceState> workspace_;
    CFrameStatusBar* statusBar_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    CWorkSpaceBar* usersPane_ = nullptr;
    CWorkSpaceBar* computersPane_ = nullptr;
    CWorkSpaceBar* applicationsPane_ = nullptr;
    CPaneTabGroup* tabGroup_ = nullptr;
    int lastPaneId_ = -1;
    std::map<int, CWorkSpaceBar*> panes_;  // not owned: children of the frame
    int currentPaneId_ = -1;
    int lookId_;
    bool changingTab_ = false;
    bool settingTitle_ = false;
};
