// The tree panes: their loaders against a fake service (requests, order, objects, images, expand marks, program texts,
// which failures release the document's interface), then a pane over scripted objects: the report shown for the
// selection, Refresh, drill-down, and its waiting tree's fetches, drops and hourglass.
#include "resources/resource_ids.h"
#include "tests/support/doc_test_support.h"
#include "tests/support/fake_tree.h"
#include "trees/tree_loaders.h"
#include "trees/tree_walk.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include <atomic>

using namespace qv::test;

namespace {

// The texts of a tree's top-level items, compared whole.
QStringList Texts(QTreeWidget& tree) {
    QStringList texts;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) texts << tree.topLevelItem(i)->text(0);
    return texts;
}

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

// Its pane: one top-level item from the source.
struct Host : QWidget, IWaitingTreeHost {
    explicit Host(FakeSource& source) : source(source) {}
    ~Host() override { ClearTreeObjects(*tree); }
    void LoadRoot() override {
        if (source.blockUntil) BlockUntil(source.blockUntil);
        FakeObject::AddChildren(tree->invisibleRootItem(), 1, nullptr, &source);
    }
    bool LoadItemChildren(QTreeWidgetItem* item) override { return TreeObjectOf(item)->LoadChildren(item); }
    void ReleaseChildObjects(QTreeWidgetItem*) override {}
    FakeSource& source;
    StepCountingTree* tree = new StepCountingTree(this);
};

}  // namespace

class WorkspaceBarTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeServiceDocument> fake_;
    CQVViewerDoc* doc_ = nullptr;
    std::shared_ptr<FakeServiceState> service_;
    QTreeWidget tree_;
    FakeSource source;

    // A top-level item carrying the object, as a loader would have made it.
    QTreeWidgetItem* Item(CTreeObject* object, QTreeWidgetItem* parent = nullptr) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(&tree_);
        SetTreeObject(item, object);
        return item;
    }

private slots:
    void init() {
        fake_ = std::make_unique<FakeServiceDocument>();
        doc_ = &fake_->doc;
        service_ = fake_->service;
        source = FakeSource{};
        FakeObject::live = 0;
        FakeObject::reportsMade = 0;
    }

    void cleanup() {
        ClearTreeObjects(tree_);
        fake_.reset();
    }

    void topLoadersOrderByNameWithTheirKindsImagesAndMarks() {
        const struct {
            void (*load)(CQVViewerDoc&, QTreeWidget&);
            std::int32_t kind;
            const char *countField, *objectKind;
            unsigned icon;
        } tops[] = {{LoadUsersTop, 0, "Computers", "CUserObject", kIdiUser},
                    {LoadComputersTop, 1, "Users", "CWorkstationObject", kIdiComputer},
                    {LoadApplicationsTop, 2, "Users", "CProgramObject", kIdiProgram}};
        for (const auto& top : tops) {
            service_->Answer(top.kind, 0, 0, 0,
                             EntityTable(top.countField, {{Variant::I4(3), Text(u"carol"), Variant::I4(0)},
                                                          {Variant::I4(1), Text(u"alice"), Variant::I4(2)},
                                                          {Variant::I4(2), Text(u"Bob"), Variant::Null()},
                                                          {Variant::Null(), Variant::Null(), Variant::I4(1)}}));
            top.load(*doc_, tree_);
            QCOMPARE(Texts(tree_), (QStringList{"", "alice", "Bob", "carol"}));
            const int image = doc_->GetSmallImageIndex(top.icon);
            QVERIFY(image >= 0);
            for (int i = 0; i < tree_.topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = tree_.topLevelItem(i);
                QCOMPARE(TreeImageIndex(item), image);
                QVERIFY(!item->icon(0).isNull());
                QVERIFY2(TreeObjectOf(item)->inherits(top.objectKind), top.objectKind);
                QCOMPARE(TreeObjectOf(item)->Name(), item->text(0));
                QCOMPARE(TreeObjectOf(item)->Id(), quint32(i));  // a null ID reads 0
                QCOMPARE(HasChildrenMark(item), i < 2);          // counts 1 and 2; not a null count or 0
            }
            ClearTreeObjects(tree_);
        }

        // Programs are ordered by "Name" even where the description is shown.
        service_->Answer(2, 0, 0, 0,
                         EntityTable("Users", {{Variant::I4(5), Text(u"zed.exe"), Variant::I4(3)},
                                               {Variant::I4(6), Text(u"ant.exe"), Variant::I4(0)}}));
        service_->programs[5] = ProgramInfoTable(u"Alpha Editor", u"zed.exe", Variant::Null());
        LoadApplicationsTop(*doc_, tree_);
        QCOMPARE(Texts(tree_), (QStringList{"ant.exe", "Alpha Editor"}));
        QCOMPARE(TreeObjectOf(tree_.topLevelItem(1))->Name(), QString("Alpha Editor"));
    }

    void aStalledProgramInfoCallEndsTheFillUntilRefresh() {
        service_->Answer(2, 0, 0, 0,
                         EntityTable("Users", {{Variant::I4(5), Text(u"a.exe"), Variant::I4(1)},
                                               {Variant::I4(6), Text(u"b.exe"), Variant::I4(1)}}));
        service_->programs[6] = ProgramInfoTable(u"Bee", u"b.exe", Variant::Null());
        service_->infoStatus = HRESULT_RPC_S_SERVER_UNAVAILABLE;  // the first call fails as a deadline passed
        CWorkSpaceBarApplications pane;
        pane.SetDocument(doc_);
        pane.ReloadTree();
        QCOMPARE(service_->infoQueries.size(), 1u);
        QCOMPARE(Texts(*pane.Tree()), (QStringList{"a.exe", "b.exe"}));

        // The halt holds for every loader, the interface kept (ViewerDocTest), until Refresh asks the service again.
        service_->infoStatus = S_OK;
        pane.ReloadTree();
        QCOMPARE(Texts(*pane.Tree()), (QStringList{"a.exe", "Bee"}));
    }

    void childLoadersAskWithTheirIdsAndMakeTheirKinds() {
        QTreeWidgetItem* user = Item(new CUserObject(11, "ann"));
        QTreeWidgetItem* station = Item(new CWorkstationObject(22, "pc"));
        QTreeWidgetItem* program = Item(new CProgramObject(33, "editor"));
        const struct {
            std::function<QTreeWidgetItem*()> parent;
            FakeServiceState::Key asked;
            const char* countField;
            quint32 childId;
            int count;
            const char* kind;
            bool marked;  // leaves never are, whatever their count
        } levels[] = {
            {[&] { return user; }, {1, 0, 11, 0}, "Processes", 22, 4, "CComputerObject", true},
            {[&] { return user->child(0); }, {2, 22, 11, 0}, "Users", 33, 9, "CApplicationObject", false},
            {[&] { return station; }, {0, 22, 0, 0}, "Processes", 11, 0, "CCompUserObject", false},
            // The same three numbers as from the Users tree, in the other roles.
            {[&] { return station->child(0); }, {2, 22, 11, 0}, "Users", 33, 0, "CWsUsApplicationObject", false},
            {[&] { return program; }, {0, 0, 0, 33}, "Computers", 11, 5, "CAppUserObject", false},
        };
        for (const auto& level : levels) {
            QTreeWidgetItem* item = level.parent();
            const auto [kind, computer, userId, programId] = level.asked;
            service_->Answer(
                kind, computer, userId, programId,
                EntityTable(level.countField, {{Variant::I4(level.childId), Text(u"x"), Variant::I4(level.count)}}));
            QVERIFY(TreeObjectOf(item)->LoadChildren(item));
            QCOMPARE(item->childCount(), 1);  // only the key asked is answered
            CTreeObject* child = TreeObjectOf(item->child(0));
            QVERIFY2(child->inherits(level.kind), level.kind);
            QCOMPARE(child->ParentObject(), TreeObjectOf(item));
            QCOMPARE(HasChildrenMark(item->child(0)), level.marked);
        }
        QCOMPARE(TreeImageIndex(program->child(0)), doc_->GetSmallImageIndex(kIdiUser));

        // No rows: true, and no children.
        QTreeWidgetItem* lonely = Item(new CUserObject(99, "nobody"));
        QVERIFY(TreeObjectOf(lonely)->LoadChildren(lonely));
        QCOMPARE(lonely->childCount(), 0);
    }

    void failuresEndEachLoaderByItsRuleAndLoadsNeedTheFrameAndTheObject() {
        service_->queryStatus = E_FAIL;
        LoadUsersTop(*doc_, tree_);
        LoadComputersTop(*doc_, tree_);
        QVERIFY(!LoadUserComputerPrograms(*doc_, Item(new CComputerObject(22, "pc", nullptr))) && doc_->Service());
        LoadApplicationsTop(*doc_, tree_);
        QVERIFY(!doc_->Service());
        QCOMPARE(service_->alive, 0);

        // Each releasing loader, and afterwards every loader fails at once.
        using ChildLoader = bool (*)(CQVViewerDoc&, QTreeWidgetItem*);
        const std::pair<ChildLoader, CTreeObject*> releasing[] = {
            {LoadUserComputers, new CUserObject(1, "u")},
            {LoadComputerUsers, new CWorkstationObject(2, "w")},
            {LoadComputerUserPrograms, new CCompUserObject(3, "c", nullptr)},
            {LoadProgramUsers, new CProgramObject(4, "p")},
        };
        for (const auto& [loader, object] : releasing) {
            QTreeWidgetItem* item = Item(object);
            doc_->SetService(std::make_unique<FakeQVQuery>(service_));
            QVERIFY(!loader(*doc_, item) && !doc_->Service());
            const std::size_t asked = service_->queries.size();
            QVERIFY(!loader(*doc_, item));
            QCOMPARE(service_->queries.size(), asked);  // no interface: no call
        }

        // A row that cannot be read ends a top-level load; the rows before it stay.
        service_->queryStatus = S_OK;
        doc_->SetService(std::make_unique<FakeQVQuery>(service_));
        ClearTreeObjects(tree_);
        service_->Answer(0, 0, 0, 0,
                         EntityTable("Computers", {{Variant::I4(1), Text(u"a"), Variant::I4(1)},
                                                   {Variant::I4(2), Text(u"b"), Variant::R8(1e20)},
                                                   {Variant::I4(3), Text(u"c"), Variant::I4(1)}}));
        LoadUsersTop(*doc_, tree_);
        QCOMPARE(Texts(tree_), QStringList{"a"});
        QVERIFY(doc_->Service());

        // Without the item's object or the frame nothing is asked.
        const std::size_t asked = service_->queries.size();
        QVERIFY(!LoadUserComputers(*doc_, Item(nullptr)) && !LoadUserComputers(*doc_, nullptr));
        doc_->SetHost(nullptr);
        LoadUsersTop(*doc_, tree_);
        QVERIFY(!LoadUserComputers(*doc_, Item(new CUserObject(1, "u"))));
        QCOMPARE(service_->queries.size(), asked);
    }

    // Which objects under an item go is TreeWalk's.
    void disconnectEmptiesTheTreesAndReleasesObjects() {
        QTreeWidget users, computers;
        fake_->host.tree = [&](IDocumentHost::TreeId id) -> QTreeWidget* {
            return id == IDocumentHost::Users ? &users : id == IDocumentHost::Computers ? &computers : nullptr;
        };
        const QPointer<CTreeObject> user = new CUserObject(1, "a"), station = new CWorkstationObject(5, "w");
        const QPointer<QObject> report = new QObject;
        user->SetReport(report);
        SetTreeObject(new QTreeWidgetItem(&users), user);
        SetTreeObject(new QTreeWidgetItem(&computers), station);

        doc_->Disconnect();
        QCOMPARE(users.topLevelItemCount() + computers.topLevelItemCount(), 0);
        QVERIFY(!user && !report && !station);
        QCOMPARE(fake_->host.reset,
                 (std::vector<IDocumentHost::TreeId>{IDocumentHost::Computers, IDocumentHost::Users}));
    }

    void showingWithNothingSelectedSelectsTheFirstItemOnceAndReloadStartsOver() {
        // Which item shows and closing a report (twice too, as a tab change does) are MainFrameTest's.
        FakePane pane(&source);
        pane.ShowSelectedReport();
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        QCOMPARE(FakeObject::reportsMade, 1);

        pane.ShowSelectedReport();  // the item already shown: no new report
        QCOMPARE(FakeObject::reportsMade, 1);

        pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(1));
        QVERIFY(!FakeOf(first)->lastReport);
        QCOMPARE(FakeObject::reportsMade, 2);

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

        // Releasing from an earlier sibling closes the current report first (which objects go is TreeWalk's).
        pane.Tree()->setCurrentItem(pane.Tree()->topLevelItem(1));
        const QPointer<QObject> later = FakeOf(pane.Tree()->topLevelItem(1))->lastReport;
        pane.ReleaseObjects(pane.Tree()->topLevelItem(0));
        QVERIFY(!later);
        QCOMPARE(pane.CurrentObject(), nullptr);
        pane.ClearTree();
        QCOMPARE(pane.Tree()->topLevelItemCount(), 0);
    }

    void openingFetchesEachTimeClosingReleasesAndDrillDownOpens() {
        FakePane pane(&source);
        pane.SelectChildById(2);  // nothing selected: nothing happens
        QCOMPARE(source.loads, 0);
        QTreeWidgetItem* first = pane.Tree()->topLevelItem(0);
        QTreeWidgetItem* second = pane.Tree()->topLevelItem(1);

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

        // Drill-down opens the selected item and selects the child of that id, if there is one.
        pane.SelectChildById(2);
        QVERIFY(first->isExpanded());
        QCOMPARE(pane.Tree()->currentItem(), first->child(1));
        QCOMPARE(pane.CurrentObject()->Id(), 2u);

        // A failed fetch keeps the expand button.
        source.succeed = false;
        second->setExpanded(true);
        QVERIFY(!second->isExpanded() && HasChildrenMark(second));
        source.succeed = true;
        pane.Tree()->setCurrentItem(second);
        pane.SelectChildById(99);
        QCOMPARE(pane.Tree()->currentItem(), second);
        QVERIFY(second->isExpanded());
        QCOMPARE(second->childCount(), 3);

        // No rows remove it.
        first->setExpanded(false);
        source.childrenPerLoad = 0;
        first->setExpanded(true);
        QCOMPARE(source.loads, 6);
        QCOMPARE(first->childCount(), 0);
        QVERIFY(!HasChildrenMark(first));
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
        QVERIFY(!pane.Tree()->IsSnapshotShown() && pane.Tree()->viewport()->updatesEnabled());

        // The animation thread is joined: frames still queued are dropped.
        const int shown = frames.count();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QCOMPARE(frames.count(), shown);
    }

    void withoutATimerOnlyTheFirstTickIsStepped() {
        Host host(source);
        // Both wake-ups start set, the timer's taken first: once the redraw is stepped, the first tick is behind it.
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
};

QTEST_MAIN(WorkspaceBarTest)
#include "workspace_bar_qtest.moc"
