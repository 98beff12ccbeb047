#include "trees/tree_walk.h"

#include "service/qv_viewer_doc.h"
#include "trees/tree_object.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace {

// The report goes first: it reads its object while it is destroyed.
void ReleaseOne(QTreeWidgetItem* item) {
    if (CTreeObject* object = TreeObjectOf(item)) {
        object->DeleteReport();
        SetTreeObject(item, nullptr);
        delete object;
    }
}

// Depth first; children are walked whatever the expand mark says, so an
// object under an item that lost its mark is not left behind.
void ReleaseSubtree(QTreeWidgetItem* item) {
    ReleaseOne(item);
    ReleaseChildObjects(item);
}

}  // namespace

void ReleaseChildObjects(QTreeWidgetItem* item) {
    if (!item) return;
    for (int i = 0; i < item->childCount(); ++i) ReleaseSubtree(item->child(i));
}

void ReleaseObjects(QTreeWidgetItem* first) {
    if (!first) return;
    if (QTreeWidgetItem* parent = first->parent()) {
        for (int i = parent->indexOfChild(first); i < parent->childCount(); ++i) ReleaseSubtree(parent->child(i));
    } else if (QTreeWidget* tree = first->treeWidget()) {
        for (int i = tree->indexOfTopLevelItem(first); i < tree->topLevelItemCount(); ++i)
            ReleaseSubtree(tree->topLevelItem(i));
    } else {
        ReleaseSubtree(first);
    }
}

void ClearTreeObjects(QTreeWidget& tree) {
    ReleaseObjects(tree.topLevelItem(0));
    tree.clear();
}
