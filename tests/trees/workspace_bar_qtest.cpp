// The tree pane: which report is shown for which selection, Refresh, clearing and drill-down; its waiting tree fetches
// on every opening, drops children (and their objects) on closing, and shows the waiting display and the hourglass
// while a fetch blocks.
#include "tests/support/fake_tree.h"
#include "trees/tree_walk.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>

namespace {

// Counts the animation thread's steps of a plain waiting tree.
class StepCountingTree : public CVSTreeCtrl {
public:
    using CVSTreeCtrl::CVSTreeCtrl;
    std::atomic<int> ticks{0};
    std::atomic<int> redraws{0};
    QString waitingText;
    QTreeWidgetItem* waitingParent = nullptr;

protected:
    void BeginWaitEffect(QTreeWidgetItem* waitingItem) override {
        waitingText = waitingItem->text(0);
        waitingParent = waitingItem->parent();
    }
    void StepWaitEffect(bool timerTick, int, int) override { ++(timerTick ? ticks : redraws); }
};

class Host : public QWidget, public IWaitingTreeHost {
public:
    explicit Host(FakeSource* source) : tree(new StepCountingTree(this)), source_(source) {}
    ~Host() override { ClearTreeObjects(*tree); }
    void LoadRoot() override {
        if (source_->blockUntil) BlockUntil(source_->blockUntil);
        FakeObject::AddChildren(tree->invisibleRootItem(), 1, nullptr, source_);
    }
    bool LoadItemChildren(QTreeWidgetItem* item) override { return TreeObjectOf(item)->LoadChildren(item); }
    void ReleaseChildObjects(QTreeWidgetItem*) override {}
    StepCountingTree* tree;

private:
    FakeSource* source_;
};

}  // namespace

class WorkspaceBarTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        source = FakeSource{};
        FakeObject::live = 0;
        FakeObject::reportsMade = 0;
    }

    void showingWithNothingSelectedSelectsTheFirstItemOnceAndReloadStartsOver() {
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

        // Reload drops everything and shows the first item.
        QTreeWidgetItem* second = pane.Tree()->topLevelItem(1);
        second->setExpanded(true);
        pane.Tree()->setCurrentItem(second->child(0));
        const QPointer<QObject> report = FakeOf(second->child(0))->lastReport;
        QCOMPARE(FakeObject::live, 5);

        pane.ReloadTree();
        QVERIFY(!report);
        QCOMPARE(pane.rootLoads, 2);
        QCOMPARE(FakeObject::live, 2);
        QVERIFY(FakeOf(pane.Tree()->topLevelItem(0))->lastReport);  // the selection is MainFrameTest's

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

    void openingTwiceFetchesTwiceAndClosingReleasesChildrenAndTheirReport() {
        FakePane pane(&source);
        QCOMPARE(pane.rootLoads, 1);
        QCOMPARE(FakeObject::live, 2);
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);

        first->setExpanded(true);
        QCOMPARE(source.loads, 1);
        QCOMPARE(first->childCount(), 3);
        QCOMPARE(FakeObject::live, 5);
        QCOMPARE(first->child(0)->text(0), QStringLiteral("Item 1"));  // no "Loading..." left behind

        first->setExpanded(false);
        QCOMPARE(first->childCount(), 0);
        QCOMPARE(FakeObject::live, 2);  // the dropped children's objects are gone
        QCOMPARE(first->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

        first->setExpanded(true);
        QCOMPARE(source.loads, 2);
        QCOMPARE(first->childCount(), 3);

        // Closing the shown item's parent closes that report first.
        QTreeWidgetItem* child = first->child(1);
        pane.Tree()->setCurrentItem(child);
        QCOMPARE(pane.CurrentObject(), TreeObjectOf(child));
        const QPointer<QObject> childReport = FakeOf(child)->lastReport;
        QVERIFY(childReport);

        first->setExpanded(false);
        QVERIFY(!childReport);
        QCOMPARE(pane.Tree()->currentItem(), first);
        QCOMPARE(pane.CurrentObject(), TreeObjectOf(first));  // the closed item's report is shown
        QVERIFY(FakeOf(first)->lastReport);
        QCOMPARE(FakeObject::live, 2);
    }

    void noRowsRemovesTheExpandButtonAndAFailureKeepsIt() {
        FakePane pane(&source);
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        QTreeWidgetItem* second = pane.Tree()->topLevelItem(1);

        source.childrenPerLoad = 0;
        first->setExpanded(true);
        QCOMPARE(first->childCount(), 0);
        QVERIFY(!HasChildrenMark(first));

        source.succeed = false;
        second->setExpanded(true);
        QVERIFY(!second->isExpanded());
        QVERIFY(HasChildrenMark(second));
        source.succeed = true;
        source.childrenPerLoad = 2;
        second->setExpanded(true);
        QCOMPARE(source.loads, 3);
        QCOMPARE(second->childCount(), 2);
    }

    void theHourglassTurnsWhileAFetchBlocks() {
        FakePane pane(&source, 2, false);
        pane.resize(240, 240);
        pane.show();
        pane.Tree()->RefreshRoot();
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        bool frozen = false;
        int childrenSeen = -1;
        QSignalSpy frames(pane.Tree(), &CWaitingTreeCtrl::EffectFrameShown);
        source.blockUntil = [&] { return frames.count() >= 6; };
        source.duringLoad = [&](QTreeWidgetItem* item) {
            frozen = pane.Tree()->IsSnapshotShown() && !pane.Tree()->viewport()->updatesEnabled();
            childrenSeen = item->childCount();
        };

        first->setExpanded(true);
        QVERIFY(frozen);
        QCOMPARE(childrenSeen, 0);  // the waiting item is gone before the fetch
        // The fetch ended only when six frames had come, or at its limit.
        QVERIFY2(frames.count() >= 6, qPrintable(QStringLiteral("%1 frames").arg(frames.count())));
        QVERIFY(!pane.Tree()->IsSnapshotShown());
        QVERIFY(pane.Tree()->viewport()->updatesEnabled());

        // The animation thread is joined: frames still queued are dropped.
        const int shown = frames.count();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(frames.count(), shown);
    }

    void withoutATimerOnlyTheFirstTickIsStepped() {
        Host host(&source);
        // Both wake-ups start set and the timer's is taken first: once the redraw has been stepped, the first tick is
        // behind it.
        source.blockUntil = [&] { return host.tree->redraws.load() >= 1; };
        host.tree->SetTimerPeriod(std::chrono::milliseconds(0));
        host.tree->SetShowWaiting(true);
        host.tree->RefreshRoot();
        QCOMPARE(host.tree->waitingText, QStringLiteral("Loading..."));
        QCOMPARE(host.tree->waitingParent, nullptr);  // the top level's waiting item
        QCOMPARE(host.tree->ticks.load(), 1);

        host.tree->SetTimerPeriod(std::chrono::milliseconds(50));
        source.blockUntil = [&] { return host.tree->ticks.load() >= 3; };
        QTreeWidgetItem* top = host.tree->topLevelItem(0);
        top->setExpanded(true);
        QCOMPARE(host.tree->waitingParent, top);
        QVERIFY(host.tree->ticks.load() >= 3);
        QCOMPARE(top->childCount(), 3);
    }

private:
    FakeSource source;
};

QTEST_MAIN(WorkspaceBarTest)
#include "workspace_bar_qtest.moc"
