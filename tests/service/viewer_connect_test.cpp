// Connect end to end against a real qvservice over TLS with the hive's files: the three trees fill through the loaders
// and open level by level; a wrong CA or an open key each say what the operator must know, the
// connection working again afterwards. A missing file is QvreportTlsTest's, through the same document.
#include "resources/resource_ids.h"
#include "tests/service/trees_host.h"
#include "tests/support/gui_test_environment.h"
#include "tests/support/service_process.h"
#include "tests/support/test_support.h"
#include "trees/tree_object.h"
#include "trees/tree_walk.h"

#include <QTreeWidget>

#include <csignal>
#include <filesystem>

namespace {

using namespace qv::test;

constexpr std::int64_t kJan2025 = 1'735'689'600'000;

TEST(ViewerConnectTls, TreesFillLevelByLevelAndEachTlsFailureSaysSo) {
    TempDir dir;
    const std::string certs = CopyTestCertificates(dir);
    const std::string store = dir.File("store.db");
    WriteRecords(store, {
                            {"bob", "pc-1", "browser", "Web Browser", "news", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-2", "editor", "Text Editor", "notes", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-1", "browser", "Web Browser", "mail", kJan2025, 60'000, 1, 2},
                            {"alice", "pc-1", "editor", "Text Editor", "todo", kJan2025, 60'000, 1, 2},
                        });
    const auto service =
        Serve(store, {"--tls-cert", certs + "/test-server.pem", "--tls-key", certs + "/test-server.key", "--client-ca",
                      certs + "/test-ca.pem", "--allow", "alice"});
    const std::string server = service->ListeningAddress();  // the certificate names 127.0.0.1 too: no look-up
    const TlsFiles alice{certs + "/test-ca.pem", certs + "/test-client-alice.pem", certs + "/test-client-alice.key"};

    HiveStore hive(dir.File("user.reg"));
    ASSERT_TRUE(WriteServerName(hive, std::u16string(server.begin(), server.end())));
    ASSERT_TRUE(WriteTlsSettings(hive, alice));
    CQVViewerDoc doc(hive);
    TreesHost host(doc);
    doc.SetHost(&host);
    MessageCapture capture;
    QStringList warnings;
    QObject::connect(&doc, &CQVViewerDoc::Warning, [&warnings](const QString& text) { warnings << text; });
    doc.Connect();
    ASSERT_TRUE(capture.messages.empty()) << capture.messages[0].text.toStdString() << "\n" << doc.ConnectFailure();
    EXPECT_TRUE(doc.ConnectFailure().empty());
    EXPECT_TRUE(warnings.isEmpty());

    // The trees fill and open level by level.
    QTreeWidget& users = host.trees[IDocumentHost::Users];
    QTreeWidget& programs = host.trees[IDocumentHost::Applications];
    EXPECT_EQ(Texts(users), (QStringList{"alice", "bob"}));
    EXPECT_EQ(Texts(host.trees[IDocumentHost::Computers]), (QStringList{"pc-1", "pc-2"}));
    EXPECT_EQ(Texts(programs), (QStringList{"Web Browser", "Text Editor"}));                   // by process name
    EXPECT_EQ(TreeImageIndex(programs.topLevelItem(0)), doc.GetSmallImageIndex(kIdiProgram));  // no icon stored
    EXPECT_EQ(users.topLevelItem(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QTreeWidgetItem* first = users.topLevelItem(0);
    ASSERT_TRUE(TreeObjectOf(first)->LoadChildren(first));
    EXPECT_EQ(Texts(first), (QStringList{"pc-1", "pc-2"}));
    QTreeWidgetItem* pc1 = first->child(0);
    ASSERT_TRUE(TreeObjectOf(pc1)->LoadChildren(pc1));
    EXPECT_EQ(Texts(pc1), (QStringList{"Web Browser", "Text Editor"}));
    EXPECT_EQ(pc1->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    QTreeWidgetItem* editor = programs.topLevelItem(1);
    ASSERT_TRUE(TreeObjectOf(editor)->LoadChildren(editor));
    EXPECT_EQ(Texts(editor), QStringList{"alice"});

    // Another CA: the service's certificate is not trusted. One message (its text is ViewerDocTest's, as the
    // unreachable server's), the reason in the trace, and the interface held before stays and still works.
    IQVQuery* working = doc.Service();
    ASSERT_TRUE(WriteTlsSettings(hive, {certs + "/test-other-ca.pem", alice.certFile, alice.keyFile}));
    doc.Disconnect();
    doc.Connect();
    EXPECT_EQ(capture.messages.size(), 1u);
    EXPECT_FALSE(doc.ConnectFailure().empty());
    EXPECT_EQ(doc.Service(), working);
    host.RefreshRoot(IDocumentHost::Users);
    EXPECT_EQ(Texts(users), (QStringList{"alice", "bob"}));

    // A key others can read still serves; the operator hears of it once.
    std::filesystem::permissions(alice.keyFile, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    ASSERT_TRUE(WriteTlsSettings(hive, alice));
    doc.Disconnect();
    doc.Connect();
    doc.Connect();
    EXPECT_EQ(capture.messages.size(), 1u);
    EXPECT_EQ(Texts(users), (QStringList{"alice", "bob"}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QString::fromStdString(alice.keyFile))) << warnings[0].toStdString();
    EXPECT_EQ(service->Stop(SIGTERM), 0);
}

}  // namespace
