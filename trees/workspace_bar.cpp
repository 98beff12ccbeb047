#include "trees/workspace_bar.h"

#include "resources/app_resources.h"
#include "resources/resource_ids.h"
#include "service/message_box.h"
#include "service/qv_viewer_doc.h"
#include "service/scoped_wait_cursor.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include <QHBoxLayout>
#include <QPainter>

#include <exception>

namespace {

// Holds the tree one pixel in from every side and draws that pixel as a
// frame in the button-shadow colour.
class CPaneFrame : public QWidget {
public:
    explicit CPaneFrame(QWidget* parent) : QWidget(parent) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->setSpacing(0);
    }
    QSize sizeHint() const override { return {CWorkSpaceBar::kInitialSize, CWorkSpaceBar::kInitialSize}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// Whether the object hangs on an item below parent.
bool HoldsObject(const QTreeWidgetItem* parent, const CTreeObject* object) {
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem* child = parent->child(i);
        if (TreeObjectOf(child) == object || HoldsObject(child, object)) return true;
    }
    return false;
}

}  // namespace

CWorkSpaceBar::CWorkSpaceBar(int paneId, const QString& title, QWidget* parent) : CDockablePane(paneId, title, parent) {
    auto* frame = new CPaneFrame(this);
    tree_ = new CPaneTreeCtrl(frame);
    tree_->setObjectName(QStringLiteral("Tree%1").arg(kIdcTree));
    frame->layout()->addWidget(tree_);
    setWidget(frame);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CWorkSpaceBar::ShowSelectedReport);
}

// The frame empties the trees on closing, while reports can still reach
// their view; whatever is left then goes with the pane.
CWorkSpaceBar::~CWorkSpaceBar() { ClearTree(); }

CQVViewerDoc* CWorkSpaceBar::Document() const { return doc_ ? doc_ : TheDocument(); }

bool CWorkSpaceBar::LoadItemChildren(QTreeWidgetItem* item) {
    CTreeObject* object = TreeObjectOf(item);
    return object ? object->LoadChildren(item) : false;
}

void CWorkSpaceBar::ReleaseChildObjects(QTreeWidgetItem* parent) {
    if (!parent) return;
    if (HoldsCurrentObject(parent)) CloseReport();
    ::ReleaseChildObjects(parent);
}

bool CWorkSpaceBar::HoldsCurrentObject(QTreeWidgetItem* parent) const {
    return currentObject_ && HoldsObject(parent, currentObject_);
}

CTreeObject* CWorkSpaceBar::GetSelectedObject() {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (!selected.isEmpty()) return TreeObjectOf(selected.first());
    SelectFirstItem();
    return nullptr;
}

void CWorkSpaceBar::ShowSelectedReport() {
    const ScopedWaitCursor wait;
    CTreeObject* object = GetSelectedObject();
    if (!object || object == currentObject_) return;
    CloseReport();
    // The object is current from here on, so a report it made before a
    // failure is still deleted by the next CloseReport.
    currentObject_ = object;
    try {
        object->CreateReport();
    } catch (const std::exception& error) {
        ShowMessage(QString::fromLocal8Bit(error.what()), MessageIcon::Error);
    }
    tree_->setFocus();
}

void CWorkSpaceBar::CloseReport() {
    if (!currentObject_) return;
    CTreeObject* object = currentObject_;
    currentObject_ = nullptr;
    object->DeleteReport();
}

void CWorkSpaceBar::ReleaseObjects(QTreeWidgetItem* first) {
    if (!first) return;
    QTreeWidgetItem* parent = first->parent() ? first->parent() : tree_->invisibleRootItem();
    for (int i = parent->indexOfChild(first); currentObject_ && i < parent->childCount(); ++i) {
        const QTreeWidgetItem* item = parent->child(i);
        if (TreeObjectOf(item) == currentObject_ || HoldsObject(item, currentObject_)) CloseReport();
    }
    ::ReleaseObjects(first);
}

void CWorkSpaceBar::ClearTree() {
    ReleaseObjects(tree_->topLevelItem(0));
    const QSignalBlocker quiet(tree_);
    tree_->clear();
    currentObject_ = nullptr;
}

void CWorkSpaceBar::ReloadTree() {
    ClearTree();
    if (CQVViewerDoc* doc = Document()) doc->ResumeProgramInfo();
    tree_->RefreshRoot();
    SelectFirstItem();
}

void CWorkSpaceBar::SelectFirstItem() {
    if (QTreeWidgetItem* first = tree_->topLevelItem(0)) tree_->setCurrentItem(first);
}

void CWorkSpaceBar::SelectChildById(quint32 id) {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    QTreeWidgetItem* item = selected.first();
    item->setExpanded(true);
    for (int i = 0; i < item->childCount(); ++i) {
        const CTreeObject* object = TreeObjectOf(item->child(i));
        if (object && object->Id() == id) {
            tree_->setCurrentItem(item->child(i));
            return;
        }
    }
}

CWorkSpaceBarUsers::CWorkSpaceBarUsers(QWidget* parent)
    : CWorkSpaceBar(kIdPaneUsers, LoadResString(kIdsUsers), parent) {}

void CWorkSpaceBarUsers::LoadRoot() {
    if (CQVViewerDoc* doc = Document()) LoadUsersTop(*doc, *Tree());
}

CWorkSpaceBarComputers::CWorkSpaceBarComputers(QWidget* parent)
    : CWorkSpaceBar(kIdPaneComputers, LoadResString(kIdsComputers), parent) {}

void CWorkSpaceBarComputers::LoadRoot() {
    if (CQVViewerDoc* doc = Document()) LoadComputersTop(*doc, *Tree());
}

CWorkSpaceBarApplications::CWorkSpaceBarApplications(QWidget* parent)
    : CWorkSpaceBar(kIdPaneApplications, LoadResString(kIdsApplications), parent) {}

void CWorkSpaceBarApplications::LoadRoot() {
    if (CQVViewerDoc* doc = Document()) LoadApplicationsTop(*doc, *Tree());
}
