// The tree pane: which report is shown for which selection, Refresh,
// clearing and drill-down.
#include "tests/support/fake_tree.h"

#include <QTest>

class WorkspaceBarTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        source = FakeSource{};
        FakeObject::live = 0;
        FakeObject::reportsMade = 0;
    }

    void showingWithNothingSelectedSelectsTheFirstItemOnce() {
        FakePane pane(&source);
        QCOMPARE(pane.Tree()->selectedItems().size(), 0);

        pane.ShowSelectedReport();
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        QCOMPARE(pane.Tree()->currentItem(), first);
        QCOMPARE(pane.CurrentObject(), TreeObjectOf(first));
        QCOMPARE(FakeObject::reportsMade, 1);

        pane.ShowSelectedReport();  // the item already shown: no new report
        QCOMPARE(FakeObject::reportsMade, 1);

        pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(1));
        QVERIFY(!FakeOf(first)->lastReport);
        QCOMPARE(FakeObject::reportsMade, 2);

        pane.CloseReport();
        QCOMPARE(pane.CurrentObject(), nullptr);
        QVERIFY(!FakeOf(pane.Tree()->topLevelItem(1))->lastReport);
        pane.CloseReport();  // harmless twice
    }

    void reloadDropsEverythingAndShowsTheFirstItem() {
        FakePane pane(&source);
        QTreeWidgetItem* second = pane.Tree()->topLevelItem(1);
        second->setExpanded(true);
        pane.Tree()->setCurrentItem(second->child(0));
        const QPointer<QObject> report = FakeOf(second->child(0))->lastReport;
        QCOMPARE(FakeObject::live, 5);

        pane.ReloadTree();
        QVERIFY(!report);
        QCOMPARE(pane.rootLoads, 2);
        QCOMPARE(FakeObject::live, 2);
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        QCOMPARE(pane.Tree()->currentItem(), first);
        QCOMPARE(pane.CurrentObject(), TreeObjectOf(first));
        QVERIFY(FakeOf(first)->lastReport);

        pane.ClearTree();
        QCOMPARE(pane.Tree()->topLevelItemCount(), 0);
        QCOMPARE(pane.CurrentObject(), nullptr);
        QCOMPARE(FakeObject::live, 0);
    }

    void drillDownOpensTheSelectedItemAndSelectsTheChild() {
        FakePane pane(&source);
        pane.SelectChildById(2);  // nothing selected: nothing happens
        QCOMPARE(source.loads, 0);

        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        pane.Tree()->setCurrentItem(first);
        pane.SelectChildById(2);
        QVERIFY(first->isExpanded());
        QCOMPARE(pane.Tree()->currentItem(), first->child(1));
        QCOMPARE(pane.CurrentObject()->Id(), 2u);

        pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(1));
        pane.SelectChildById(99);
        QCOMPARE(pane.Tree()->currentItem(), pane.Tree()->topLevelItem(1));
        QVERIFY(pane.Tree()->topLevelItem(1)->isExpanded());
    }

    void releasingSiblingsClosesTheCurrentReportFirst() {
        FakePane pane(&source, 3);
        pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(2));
        const QPointer<QObject> report = FakeOf(pane.Tree()->topLevelItem(2))->lastReport;

        pane.ReleaseObjects(pane.Tree()->topLevelItem(1));
        QVERIFY(!report);
        QCOMPARE(pane.CurrentObject(), nullptr);
        QCOMPARE(FakeObject::live, 1);
        QVERIFY(TreeObjectOf(pane.Tree()->topLevelItem(0)));
        QCOMPARE(TreeObjectOf(pane.Tree()->topLevelItem(2)), nullptr);
    }

private:
    FakeSource source;
};

QTEST_MAIN(WorkspaceBarTest)
#include "workspace_bar_qtest.moc"
