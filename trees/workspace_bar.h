#pragma once
// The three navigation panes: a docking pane holding one waiting tree and
// remembering which tree object's report it shows. Selecting an item shows
// its report; the frame closes and shows reports as panes come to the front.
#include "trees/vs_tree_ctrl.h"
#include "ui/dockable_pane.h"

class CQVViewerDoc;
class CTreeObject;

using CPaneTreeCtrl = CHourglassFX<CVSTreeCtrl>;

class CWorkSpaceBar : public CDockablePane, public IWaitingTreeHost {
    Q_OBJECT
public:
    static constexpr int kInitialSize = 200;

    CWorkSpaceBar(int paneId, const QString& title, QWidget* parent = nullptr);
    ~CWorkSpaceBar() override;

    CPaneTreeCtrl* Tree() const { return tree_; }

    // The document the loaders use; the application's one when not set.
    void SetDocument(CQVViewerDoc* doc) { doc_ = doc; }
    CQVViewerDoc* Document() const;

    // IWaitingTreeHost: the top level is the subclass's business.
    void LoadRoot() override {}
    bool LoadItemChildren(QTreeWidgetItem* item) override;
    void ReleaseChildObjects(QTreeWidgetItem* parent) override;

    // The selected item's object. With nothing selected, selects the first
    // top-level item (whose selection change shows its report) and gives null.
    CTreeObject* GetSelectedObject();
    virtual void ShowSelectedReport();
    virtual void CloseReport();
    // The item, its following siblings and their descendants lose their
    // reports and objects.
    void ReleaseObjects(QTreeWidgetItem* first);
    // Drops every object and item and loads the top level again, then
    // selects the first item.
    void ReloadTree();
    // Drops every object and item; no reload.
    void ClearTree();
    // Opens the selected item and selects its first child with that id.
    void SelectChildById(quint32 id);
    void SelectFirstItem();

    CTreeObject* CurrentObject() const { return currentObject_; }
    // Forgets the current object without touching it (already destroyed).
    void ResetCurrentObject() { currentObject_ = nullptr; }

private:
    bool HoldsCurrentObject(QTreeWidgetItem* parent) const;

    CPaneTreeCtrl* tree_;                   // owned through the widget tree
    CTreeObject* currentObject_ = nullptr;  // not owned
    CQVViewerDoc* doc_ = nullptr;           // not owned
};

class CWorkSpaceBarUsers : public CWorkSpaceBar {
    Q_OBJECT
public:
    explicit CWorkSpaceBarUsers(QWidget* parent = nullptr);
    void LoadRoot() override;
};

class CWorkSpaceBarComputers : public CWorkSpaceBar {
    Q_OBJECT
public:
    explicit CWorkSpaceBarComputers(QWidget* parent = nullptr);
    void LoadRoot() override;
};

class CWorkSpaceBarApplications : public CWorkSpaceBar {
    Q_OBJECT
public:
    explicit CWorkSpaceBarApplications(QWidget* parent = nullptr);
    void LoadRoot() override;
};
