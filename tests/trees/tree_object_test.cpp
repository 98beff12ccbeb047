// The tree objects' keys without their parents (with them, each kind's key is ReportsTest's), and the walk that
// releases objects hanging on items.
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include <QPointer>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <array>

namespace {

using Key = std::array<std::uint32_t, 4>;  // kind, computer, user, program

Key KeyOf(const CTreeObject& object) {
    QueryRequest request;
    object.FillQueryKey(request);
    return {static_cast<std::uint32_t>(request.kind), request.computerId, request.userId, request.programId};
}

}  // namespace

TEST(TreeObject, WithoutParentsOnlyTheObjectsOwnWordsAndNoChildrenWithoutTheDocument) {
    CWorkstationObject workstation(22, "pc");
    CUserObject user(11, "ann");
    EXPECT_EQ(KeyOf(user), (Key{0, 0, 0, 0}));
    EXPECT_EQ(KeyOf(workstation), (Key{0, 0, 0, 0}));
    EXPECT_EQ(KeyOf(CComputerObject(22, "pc", nullptr)), (Key{2, 22, 0, 0}));
    EXPECT_EQ(KeyOf(CCompUserObject(11, "ann", nullptr)), (Key{2, 0, 11, 0}));
    EXPECT_EQ(KeyOf(CApplicationObject(33, "e", nullptr)), (Key{3, 0, 0, 33}));
    EXPECT_EQ(KeyOf(CWsUsApplicationObject(33, "e", nullptr)), (Key{3, 0, 0, 33}));
    EXPECT_EQ(KeyOf(CAppUserObject(11, "ann", nullptr)), (Key{3, 0, 11, 0}));
    // A parent without its own parent: the grandparent's word stays 0.
    EXPECT_EQ(KeyOf(CApplicationObject(33, "e", &workstation)), (Key{3, 22, 0, 33}));
    QTreeWidgetItem item;
    EXPECT_FALSE(user.LoadChildren(&item));
}

TEST(TreeWalk, ReleasesObjectsAndReportsFromAnItemOnDepthFirst) {
    QTreeWidgetItem root;
    std::vector<QPointer<CTreeObject>> objects;
    std::vector<QPointer<QObject>> reports;
    const auto attach = [&](QTreeWidgetItem* item, CTreeObject* object) {
        SetTreeObject(item, object);
        object->SetReport(new QObject);
        objects.emplace_back(object);
        reports.emplace_back(object->Report());
    };
    for (int i = 0; i < 3; ++i) {
        auto* child = new QTreeWidgetItem(&root);
        attach(child, new CUserObject(static_cast<quint32>(i), "u"));
        auto* grandchild = new QTreeWidgetItem(child);
        attach(grandchild, new CComputerObject(10u + static_cast<quint32>(i), "c", TreeObjectOf(child)));
        // An item without the expand mark still gets its children walked.
        child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
    new QTreeWidgetItem(&root);  // an item without an object is skipped

    ReleaseObjects(root.child(1));  // the second, its following siblings, their children
    for (std::size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(objects[i].isNull(), i >= 2) << i;
        EXPECT_EQ(reports[i].isNull(), i >= 2) << i;
    }
    EXPECT_EQ(TreeObjectOf(root.child(2)), nullptr);
    EXPECT_EQ(TreeObjectOf(root.child(0)), objects[0].data());
    EXPECT_EQ(root.childCount(), 4);  // items stay

    ReleaseChildObjects(&root);
    for (const auto& object : objects) EXPECT_TRUE(object.isNull());
    EXPECT_EQ(TreeObjectOf(nullptr), nullptr);
}
