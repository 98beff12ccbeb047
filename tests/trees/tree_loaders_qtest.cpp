// The loaders against a fake service: requests, "Name Asc" order, objects, images, expand marks, program texts, and
// which failures release the document's interface. Plain QTreeWidgets stand in for the panes' trees.
#include "resources/resource_ids.h"
#include "tests/service/stalled_call.h"
#include "tests/service/trees_host.h"
#include "tests/support/doc_test_support.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"
#include "trees/workspace_bar.h"

#include <QPointer>
#include <QTreeWidget>
#include <QtTest>

using namespace qv::test;

class TreeLoadersTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeServiceDocument> fake_;
    CQVViewerDoc* doc_ = nullptr;
    std::shared_ptr<FakeServiceState> service_;
    QTreeWidget tree_;

    // A top-level item carrying the object, as a loader would have made it.
    QTreeWidgetItem* Item(CTreeObject* object, QTreeWidgetItem* parent = nullptr) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(&tree_);
        SetTreeObject(item, object);
        return item;
    }

    static bool Marked(const QTreeWidgetItem* item) {
        return item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
    }

    void ExpectLastQuery(std::int32_t kind, quint32 computer, quint32 user, quint32 program) {
        QCOMPARE(service_->LastQuery(), std::tuple(kind, computer, user, program, 0.0, 0.0));
    }

private slots:
    void init() {
        fake_ = std::make_unique<FakeServiceDocument>();
        doc_ = &fake_->doc;
        service_ = fake_->service;
    }

    void cleanup() {
        ClearTreeObjects(tree_);
        fake_.reset();
    }

    void usersTopInNameOrderWithImagesAndMarks() {
        service_->Answer(0, 0, 0, 0,
                         EntityTable("Computers", {{Variant::I4(3), Text(u"carol"), Variant::I4(0)},
                                                   {Variant::I4(1), Text(u"alice"), Variant::I4(2)},
                                                   {Variant::I4(2), Text(u"Bob"), Variant::Null()},
                                                   {Variant::Null(), Variant::Null(), Variant::I4(1)}}));
        LoadUsersTop(*doc_, tree_);
        ExpectLastQuery(0, 0, 0, 0);
        QCOMPARE(Texts(tree_), (QStringList{"", "alice", "Bob", "carol"}));
        const int userImage = doc_->GetSmallImageIndex(kIdiUser);
        QVERIFY(userImage >= 0);
        for (int i = 0; i < tree_.topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = tree_.topLevelItem(i);
            QCOMPARE(TreeImageIndex(item), userImage);
            QVERIFY(!item->icon(0).isNull());
            QVERIFY(TreeObjectOf(item)->inherits("CUserObject"));
            QCOMPARE(TreeObjectOf(item)->Name(), item->text(0));
            QCOMPARE(Marked(item), i < 2);  // counts 1 and 2; not a null count or 0
        }
        QCOMPARE(TreeObjectOf(tree_.topLevelItem(0))->Id(), 0u);  // null ID
        QCOMPARE(TreeObjectOf(tree_.topLevelItem(1))->Id(), 1u);
    }

    void computersTopAndProgramsTopShowProgramTexts() {
        service_->Answer(1, 0, 0, 0, EntityTable("Users", {{Variant::I4(7), Text(u"pc-7"), Variant::I4(1)}}));
        LoadComputersTop(*doc_, tree_);
        ExpectLastQuery(1, 0, 0, 0);
        QCOMPARE(Texts(tree_), QStringList{"pc-7"});
        QVERIFY(TreeObjectOf(tree_.topLevelItem(0))->inherits("CWorkstationObject"));
        QCOMPARE(TreeImageIndex(tree_.topLevelItem(0)), doc_->GetSmallImageIndex(kIdiComputer));
        ClearTreeObjects(tree_);

        // Ordered by "Name" even where the description is shown; the same program twice asks for its information once.
        service_->Answer(2, 0, 0, 0,
                         EntityTable("Users", {{Variant::I4(5), Text(u"zed.exe"), Variant::I4(3)},
                                               {Variant::I4(6), Text(u"ant.exe"), Variant::I4(0)},
                                               {Variant::I4(5), Text(u"zed.exe"), Variant::I4(3)}}));
        service_->programs[5] = ProgramInfoTable(u"Alpha Editor", u"zed.exe", Variant::Null());
        LoadApplicationsTop(*doc_, tree_);
        ExpectLastQuery(2, 0, 0, 0);
        QCOMPARE(Texts(tree_), (QStringList{"ant.exe", "Alpha Editor", "Alpha Editor"}));
        QCOMPARE(service_->infoQueries.size(), 2u);  // 6 (no row: not cached) and 5
        QCOMPARE(TreeImageIndex(tree_.topLevelItem(0)), doc_->GetSmallImageIndex(kIdiProgram));
        QVERIFY(TreeObjectOf(tree_.topLevelItem(1))->inherits("CProgramObject"));
        QCOMPARE(TreeObjectOf(tree_.topLevelItem(1))->Name(), QString("Alpha Editor"));
        QVERIFY(Marked(tree_.topLevelItem(1)));
        QVERIFY(!Marked(tree_.topLevelItem(0)));
    }

    void aStalledProgramInfoCallEndsTheFillUntilRefresh() {
        service_->Answer(2, 0, 0, 0,
                         EntityTable("Users", {{Variant::I4(5), Text(u"a.exe"), Variant::I4(1)},
                                               {Variant::I4(6), Text(u"b.exe"), Variant::I4(1)},
                                               {Variant::I4(7), Text(u"c.exe"), Variant::I4(1)}}));
        service_->programs[6] = ProgramInfoTable(u"Bee", u"b.exe", Variant::Null());
        // The first call waits until its deadline passes.
        service_->infoCall = StalledCall{[] {}, std::make_shared<std::atomic<bool>>(true)};
        CWorkSpaceBarApplications pane;
        pane.SetDocument(doc_);
        pane.ReloadTree();
        QCOMPARE(service_->infoQueries.size(), 1u);
        QCOMPARE(Texts(*pane.Tree()), (QStringList{"a.exe", "b.exe", "c.exe"}));
        const int fallback = doc_->GetSmallImageIndex(kIdiProgram);
        for (int i = 0; i < 3; ++i) QCOMPARE(TreeImageIndex(pane.Tree()->topLevelItem(i)), fallback);
        QVERIFY(doc_->Service());

        // No further calls from the other program loaders either...
        auto* computer = new CComputerObject(22, "pc", nullptr);
        service_->Answer(2, 22, 0, 0, EntityTable("Users", {{Variant::I4(6), Text(u"b.exe"), Variant::I4(0)}}));
        QVERIFY(LoadUserComputerPrograms(*doc_, Item(computer)));
        QCOMPARE(service_->infoQueries.size(), 1u);
        // ...until Refresh asks the service again.
        service_->infoCall = {};
        pane.ReloadTree();
        QCOMPARE(service_->infoQueries.size(), 4u);
        QCOMPARE(Texts(*pane.Tree()), (QStringList{"a.exe", "Bee", "c.exe"}));
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
            ExpectLastQuery(kind, computer, userId, programId);
            QCOMPARE(item->childCount(), 1);
            CTreeObject* child = TreeObjectOf(item->child(0));
            QVERIFY2(child->inherits(level.kind), level.kind);
            QCOMPARE(child->ParentObject(), TreeObjectOf(item));
            QCOMPARE(Marked(item->child(0)), level.marked);
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
        QVERIFY(doc_->Service());
        auto* computer = new CComputerObject(22, "pc", nullptr);
        QVERIFY(!LoadUserComputerPrograms(*doc_, Item(computer)));
        QVERIFY(doc_->Service());
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
            QVERIFY(!loader(*doc_, item));
            QVERIFY(!doc_->Service());
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
        QVERIFY(!LoadUserComputers(*doc_, Item(nullptr)));
        QVERIFY(!LoadUserComputers(*doc_, nullptr));
        doc_->SetHost(nullptr);
        LoadUsersTop(*doc_, tree_);
        QVERIFY(!LoadUserComputers(*doc_, Item(new CUserObject(1, "u"))));
        QCOMPARE(service_->queries.size(), asked);
    }

    void disconnectEmptiesTheTreesAndReleasesObjects() {
        QTreeWidget users;
        QTreeWidget computers;
        fake_->host.tree = [&](IDocumentHost::TreeId id) -> QTreeWidget* {
            return id == IDocumentHost::Users ? &users : id == IDocumentHost::Computers ? &computers : nullptr;
        };
        service_->Answer(0, 0, 0, 0, EntityTable("Computers", {{Variant::I4(1), Text(u"a"), Variant::I4(1)}}));
        service_->Answer(1, 0, 1, 0, EntityTable("Processes", {{Variant::I4(2), Text(u"pc"), Variant::I4(1)}}));
        LoadUsersTop(*doc_, users);
        QPointer<CTreeObject> top = TreeObjectOf(users.topLevelItem(0));
        QVERIFY(top->LoadChildren(users.topLevelItem(0)));
        QPointer<CTreeObject> child = TreeObjectOf(users.topLevelItem(0)->child(0));
        QPointer<QObject> report = new QObject;
        child->SetReport(report);
        QPointer<CTreeObject> other = new CWorkstationObject(5, "w");
        SetTreeObject(new QTreeWidgetItem(&computers), other);

        doc_->Disconnect();
        QCOMPARE(users.topLevelItemCount(), 0);
        QCOMPARE(computers.topLevelItemCount(), 0);
        QVERIFY(top.isNull());
        QVERIFY(child.isNull());
        QVERIFY(report.isNull());
        QVERIFY(other.isNull());
        QCOMPARE(fake_->host.reset,
                 (std::vector<IDocumentHost::TreeId>{IDocumentHost::Computers, IDocumentHost::Users}));
        QVERIFY(doc_->SmallImages().isEmpty());
    }
};

QTEST_MAIN(TreeLoadersTest)
#include "tree_loaders_qtest.moc"
