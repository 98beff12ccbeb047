// Connect end to end against a real qvservice on loopback: the three trees
// fill through the loaders and open level by level; a server change to an
// unreachable server empties them, says so and keeps the old interface; and
// each other way the activation can fail has its own message.
#include "tests/support/doc_test_support.h"
#include "tests/service/trees_host.h"
#include "proto/qv_contract.h"
#include "tests/support/gui_test_environment.h"
#include "service/qv_viewer_doc.h"
#include "service/recordset_reader.h"
#include "service/remote_qv_query.h"
#include "resources/resource_ids.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"
#include "service/viewer_settings.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QPointer>
#include <QTreeWidget>

QV_GUI_TEST_ENVIRONMENT(QApplication)

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;
const RemoteDeadlines kQuick{std::chrono::milliseconds(3000), std::chrono::milliseconds(10000)};
constexpr char kOtherId[] = "{00000000-1111-2222-3333-444444444444}";

std::string Serve(const TempDir& dir, std::unique_ptr<ServiceProcess>& service, std::vector<std::string> extra = {}) {
    service.reset();
    const std::string store = dir.File("store.db");
    WriteRecords(store, {
                            {"bob", "pc-1", "browser", "Web Browser", "news", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-2", "editor", "Text Editor", "notes", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-1", "browser", "Web Browser", "mail", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-1", "editor", "Text Editor", "todo", kJan2025, 60'000, 1, 2},
                        });
    std::vector<std::string> args = {"serve", "--store", store, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    service = std::make_unique<ServiceProcess>(args);
    const std::string address = service->WaitUntilListening();
    EXPECT_FALSE(address.empty()) << service->Log();
    return address;
}

std::u16string Name(const std::string& address) { return {address.begin(), address.end()}; }

TEST(ViewerConnect, TreesFillFromTheServiceAndEmptyOnAServerChange) {
    TempDir dir;
    std::unique_ptr<ServiceProcess> service;
    const std::string address = Serve(dir, service);
    HiveStore hive(dir.File("user.reg"));
    ASSERT_TRUE(WriteServerName(hive, Name(address)));
    CQVViewerDoc doc(hive);
    TreesHost host(doc);
    doc.SetHost(&host);
    MessageCapture capture;
    ASSERT_TRUE(doc.OnNewDocument());
    ASSERT_TRUE(capture.messages.empty());
    ASSERT_NE(doc.Service(), nullptr);

    QTreeWidget& users = host.trees[IDocumentHost::Users];
    QTreeWidget& computers = host.trees[IDocumentHost::Computers];
    QTreeWidget& programs = host.trees[IDocumentHost::Applications];
    EXPECT_EQ(Texts(users), (QStringList{"alice", "bob"}));
    EXPECT_EQ(Texts(computers), (QStringList{"pc-1", "pc-2"}));
    EXPECT_EQ(Texts(programs), (QStringList{"Web Browser", "Text Editor"}));  // by process name
    const int userImage = doc.GetSmallImageIndex(kIdiUser);
    EXPECT_EQ(TreeImageIndex(users.topLevelItem(0)), userImage);
    EXPECT_EQ(TreeImageIndex(programs.topLevelItem(0)), doc.GetSmallImageIndex(kIdiProgram));  // no icon stored
    EXPECT_EQ(users.topLevelItem(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    QTreeWidgetItem* alice = users.topLevelItem(0);
    ASSERT_TRUE(TreeObjectOf(alice)->LoadChildren(alice));
    EXPECT_EQ(Texts(alice), (QStringList{"pc-1", "pc-2"}));
    QTreeWidgetItem* pc1 = alice->child(0);
    ASSERT_TRUE(TreeObjectOf(pc1)->LoadChildren(pc1));
    EXPECT_EQ(Texts(pc1), (QStringList{"Web Browser", "Text Editor"}));
    EXPECT_EQ(pc1->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    QTreeWidgetItem* editor = programs.topLevelItem(1);
    ASSERT_TRUE(TreeObjectOf(editor)->LoadChildren(editor));
    EXPECT_EQ(Texts(editor), QStringList{"alice"});
    QPointer<CTreeObject> deep = TreeObjectOf(pc1->child(1));

    // The Server page's Apply: write the name, Disconnect, Connect.
    IQVQuery* working = doc.Service();
    ASSERT_TRUE(WriteServerName(hive, u"127.0.0.1:1"));
    doc.Disconnect();
    doc.Connect();
    for (const QTreeWidget& tree : host.trees) EXPECT_EQ(tree.topLevelItemCount(), 0);
    EXPECT_TRUE(deep.isNull());
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].text, "`127.0.0.1:1` is not available.");
    EXPECT_EQ(doc.Service(), working);
    RecordsetReader still(RunQuery(doc.Service(), QueryRequest{}));
    EXPECT_FALSE(still.IsEOF());
}

TEST(ViewerConnect, RefusedCallerMissingServiceAndMissingInterface) {
    TempDir dir;
    std::unique_ptr<ServiceProcess> service;
    const std::string address = Serve(dir, service, {"--allow", "somebody-else", "--trust-claimed-names"});
    HiveStore hive(dir.File("user.reg"));
    ASSERT_TRUE(WriteServerName(hive, Name(address)));
    CQVViewerDoc doc(hive);
    RecordingHost host;
    doc.SetHost(&host);
    MessageCapture capture;
    doc.Connect();
    ASSERT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(capture.messages[0].text.toStdString(), "Access is denied to Quorvis Service on `" + address + "`");
    EXPECT_EQ(capture.messages[0].icon, MessageIcon::Error);

    // Another class on the server: the service is "not installed" there.
    const std::string open = Serve(dir, service);
    ASSERT_TRUE(WriteServerName(hive, Name(open)));
    doc.SetActivator([](std::string_view server) {
        return ActivateRemoteObject(server, kOtherId, qv::contract::kQueryInterfaceId, kQuick);
    });
    doc.Connect();
    ASSERT_EQ(capture.messages.size(), 2u);
    EXPECT_EQ(capture.messages[1].text.toStdString(),
              "Quorvis Service is not installed on `" + open + "`. Please install service.");

    // An interface the object does not offer: no message, no interface, the
    // trees filled (and left empty).
    doc.SetActivator([](std::string_view server) {
        return ActivateRemoteObject(server, qv::contract::kClassId, kOtherId, kQuick);
    });
    doc.Connect();
    EXPECT_EQ(capture.messages.size(), 2u);
    EXPECT_EQ(doc.Service(), nullptr);
    EXPECT_EQ(host.refreshed.size(), 3u);
}

}  // namespace
