#include "options_sheet.h"

#include "hive_store.h"
#include "message_box.h"
#include "qv_viewer_doc.h"
#include "resource_ids.h"
#include "viewer_settings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <string>
#include <vector>

namespace {

// The frame as the document sees it: no trees, counted fills.
class FakeHost : public IDocumentHost {
public:
    QTreeWidget* Tree(TreeId) override { return nullptr; }
    void RefreshRoot(TreeId) override { ++refreshes; }
    void ResetCurrentObject(TreeId) override {}
    void PostCommand(int commandId) override { posted.push_back(commandId); }

    int refreshes = 0;
    std::vector<int> posted;
};

struct Message {
    QString text;
    MessageIcon icon;
};

}  // namespace

class OptionsSheetTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        hivePath_ = dir_->filePath(QStringLiteral("user.reg")).toStdString();
        hive_ = std::make_unique<HiveStore>(hivePath_);
        hive_->Load();
        doc_ = std::make_unique<CQVViewerDoc>(*hive_);
        doc_->SetHost(&host_);
        host_ = FakeHost();
        servers_.clear();
        doc_->SetActivator([this](std::string_view server) {
            servers_.emplace_back(server);
            return ActivationResult{};  // activated, no object: empty trees
        });
        messages_.clear();
        SetMessageHandler([this](const QString& text, MessageIcon icon, int) {
            messages_.push_back({text, icon});
            return 0;
        });
    }

    void cleanup()
    {
        SetMessageHandler({});
        doc_.reset();
        hive_.reset();
        dir_.reset();
    }

    void sheetShowsTheServerPageUnderGeneral()
    {
        WriteServerName(*hive_, u"alpha");
        CSheetOptions sheet(doc_.get(), hive_.get(), CPropertySheet::Look::Tree, kIdbOptionsNavigation, 16);
        sheet.show();
        QCOMPARE(sheet.windowTitle(), QStringLiteral("Options"));
        QTreeWidget* tree = sheet.NavigationTree();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("General"));
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("Server"));
        QCOMPARE(sheet.ServerPage()->ServerEdit()->text(), QStringLiteral("alpha"));
        QVERIFY(!sheet.ApplyButton()->isEnabled());
        QVERIFY(servers_.empty());  // opening connects nothing

        CSheetOptions plain(doc_.get(), hive_.get(), CPropertySheet::Look::Tabs);
        QCOMPARE(plain.NavigationTree()->topLevelItemCount(), 1);
        QCOMPARE(plain.NavigationTree()->topLevelItem(0)->text(0), QStringLiteral("Server"));
    }

    void emptyNameKeepsTheSheetOpen()
    {
        CSheetOptions sheet(doc_.get(), hive_.get());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        QLineEdit* edit = sheet.ServerPage()->ServerEdit();
        QCOMPARE(edit->text(), QString());  // nothing stored yet
        sheet.OkButton()->setFocus();
        sheet.OkButton()->click();

        QCOMPARE(messages_.size(), std::size_t{1});
        QCOMPARE(messages_[0].text, QStringLiteral("This filed cannot be empty."));
        QCOMPARE(messages_[0].icon, MessageIcon::Exclamation);
        QVERIFY(sheet.isVisible());
        QTRY_VERIFY(edit->hasFocus());
        QVERIFY(servers_.empty());
        QVERIFY(ReadServerName(*hive_).empty());
    }

    void applyStoresAndReconnects()
    {
        WriteServerName(*hive_, u"alpha");
        CSheetOptions sheet(doc_.get(), hive_.get());
        sheet.show();
        QLineEdit* edit = sheet.ServerPage()->ServerEdit();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("beta:50051"));
        QVERIFY(sheet.ApplyButton()->isEnabled());

        sheet.ApplyButton()->click();
        QVERIFY(sheet.isVisible());
        QVERIFY(!sheet.ApplyButton()->isEnabled());
        QCOMPARE(servers_, std::vector<std::string>{"beta:50051"});
        QCOMPARE(host_.refreshes, 3);
        QVERIFY(messages_.empty());
        // Stored in the file, not only in memory.
        HiveStore reread(hivePath_);
        reread.Load();
        QVERIFY(ReadServerName(reread) == u"beta:50051");

        // OK with the name unchanged still reconnects, then closes.
        sheet.OkButton()->click();
        QCOMPARE(servers_.size(), std::size_t{2});
        QCOMPARE(servers_[1], std::string("beta:50051"));
        QCOMPARE(host_.refreshes, 6);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }

    void failedReconnectIsReportedAndTheSheetCloses()
    {
        WriteServerName(*hive_, u"alpha");
        doc_->SetActivator([this](std::string_view server) {
            servers_.emplace_back(server);
            ActivationResult result;
            result.hr = static_cast<HRESULT>(0x800706BA);
            return result;
        });
        CSheetOptions sheet(doc_.get(), hive_.get());
        sheet.show();
        sheet.ServerPage()->ServerEdit()->setText(QStringLiteral("gone"));
        sheet.OkButton()->click();
        QCOMPARE(messages_.size(), std::size_t{1});
        QCOMPARE(messages_[0].text, QStringLiteral("`gone` is not available."));
        QVERIFY(!sheet.isVisible());
        QVERIFY(ReadServerName(*hive_) == u"gone");
    }

    void withoutDocumentNothingIsReadOrStored()
    {
        WriteServerName(*hive_, u"alpha");
        CSheetOptions sheet(nullptr, hive_.get());
        sheet.show();
        QCOMPARE(sheet.ServerPage()->ServerEdit()->text(), QString());
        sheet.ServerPage()->ServerEdit()->setText(QStringLiteral("beta"));
        sheet.OkButton()->click();
        QVERIFY(!sheet.isVisible());
        QVERIFY(ReadServerName(*hive_) == u"alpha");
        QVERIFY(servers_.empty());
    }

    void runnerReplacesTheModalSheet()
    {
        int runs = 0;
        SetOptionsSheetRunner([&runs](QWidget*, CQVViewerDoc&) { return ++runs > 0; });
        QVERIFY(RunOptionsSheet(nullptr, *doc_));
        QCOMPARE(runs, 1);
        SetOptionsSheetRunner({});
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::string hivePath_;
    std::unique_ptr<HiveStore> hive_;
    std::unique_ptr<CQVViewerDoc> doc_;
    FakeHost host_;
    std::vector<std::string> servers_;
    std::vector<Message> messages_;
};

QTEST_MAIN(OptionsSheetTest)
#include "options_sheet_qtest.moc"
