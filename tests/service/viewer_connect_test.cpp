// Connect end to end against a real qvservice on loopback: the three trees
// fill through the loaders and open level by level; a caller the service
// refuses is told so. A failed reconnect is viewer_connect_tls_test's.
#include "tests/support/doc_test_support.h"
#include "tests/service/trees_host.h"
#include "tests/support/gui_test_environment.h"
#include "service/qv_viewer_doc.h"
#include "service/remote_qv_query.h"
#include "resources/resource_ids.h"
#include "trees/tree_loaders.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"
#include "service/viewer_settings.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QTreeWidget>

QV_GUI_TEST_ENVIRONMENT(QApplication)

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

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

TEST(ViewerConnect, TreesFillFromTheServiceLevelByLevel) {
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
}

// The service's own refusal travels through the transport to the message;
// the other refusals take the same path, their messages are the document's.
TEST(ViewerConnect, ARefusedCallerIsToldAccessIsDenied) {
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
    EXPECT_EQ(doc.Service(), nullptr);
}

}  // namespace
