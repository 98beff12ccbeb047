#pragma once
// The frame's part in tests of Connect: three trees, each refilled by its top-level loader, their tree objects freed at
// the end.
#include "service/qv_viewer_doc.h"
#include "tests/support/doc_test_support.h"
#include "trees/tree_loaders.h"
#include "trees/tree_walk.h"

#include <QStringList>
#include <QTreeWidget>

namespace qv::test {

class TreesHost : public RecordingHost {
public:
    explicit TreesHost(CQVViewerDoc& doc) {
        tree = [this](TreeId id) { return &trees[id]; };
        refresh = [this, &doc](TreeId id) {
            ClearTreeObjects(trees[id]);
            if (id == Users) LoadUsersTop(doc, trees[id]);
            if (id == Computers) LoadComputersTop(doc, trees[id]);
            if (id == Applications) LoadApplicationsTop(doc, trees[id]);
        };
    }
    ~TreesHost() override {
        for (QTreeWidget& each : trees) ClearTreeObjects(each);
    }
    QTreeWidget trees[3];
};

inline QStringList Texts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
    return texts;
}

inline QStringList Texts(QTreeWidget& tree) { return Texts(tree.invisibleRootItem()); }

}  // namespace qv::test
