#include "ui/property_sheet.h"

#include "resources/resource_ids.h"

#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

// A page that counts the sheet's calls and refuses when told to.
class CountingPage : public CPropertyPage {
public:
    using CPropertyPage::CPropertyPage;
    bool OnInitDialog() override {
        ++inits;
        return true;
    }
    bool OnApply() override { return ++applies, !refuse && CPropertyPage::OnApply(); }
    bool OnOK() override {
        ++oks;
        return !refuse;
    }
    void OnCancel() override { ++cancels; }

    int inits = 0, applies = 0, oks = 0, cancels = 0;
    bool refuse = false;
};

}  // namespace

class PropertySheetTest : public QObject {
    Q_OBJECT
private slots:
    void treeLookGroupsPagesUnderCategories() {
        CPropertySheet sheet(QStringLiteral("Options"));
        sheet.SetLook(CPropertySheet::Look::Tree, 170);
        QVERIFY(sheet.SetIconsList(kIdbOptionsNavigation, 16));
        QTreeWidgetItem* general = sheet.AddTreeCategory(QStringLiteral("General"), 0, 0);
        QVERIFY(general != nullptr);
        auto* first = new CountingPage(QStringLiteral("Server"));
        auto* second = new CountingPage(QStringLiteral("Other"));
        sheet.AddPageToTree(general, first, 1, 1);
        sheet.AddPageToTree(general, second, 1, 1);

        QTreeWidget* tree = sheet.NavigationTree();
        QCOMPARE(general->childCount(), 2);
        QVERIFY(!general->child(0)->icon(0).isNull());
        QCOMPARE(sheet.ActivePage(), first);

        // Pages are initialised when first shown, once.
        sheet.show();
        QCOMPARE(first->inits, 1);
        QCOMPARE(second->inits, 0);
        tree->setCurrentItem(general->child(1));
        QCOMPARE(sheet.ActivePage(), second);
        QCOMPARE(second->inits, 1);
        tree->setCurrentItem(general);  // a category shows its first page
        QCOMPARE(sheet.ActivePage(), first);
        QCOMPARE(first->inits, 1);

        CPropertySheet plain(QStringLiteral("Plain"));
        plain.SetLook(CPropertySheet::Look::List);
        QVERIFY(plain.AddTreeCategory(QStringLiteral("General")) == nullptr);
        plain.AddPage(new CountingPage(QStringLiteral("Server")));
        QCOMPARE(plain.NavigationTree()->topLevelItemCount(), 1);
        QVERIFY(!plain.SetIconsList(kIdiUser, 16));
    }

    void applyOkAndCancelReachTheInitialisedPages() {
        CPropertySheet sheet(QStringLiteral("Options"));
        auto* shown = new CountingPage(QStringLiteral("A"));
        auto* never = new CountingPage(QStringLiteral("B"));
        sheet.AddPage(shown);
        sheet.AddPage(never);
        sheet.show();

        QVERIFY(!sheet.ApplyButton()->isEnabled());
        shown->SetModified();
        QVERIFY(sheet.ApplyButton()->isEnabled());
        sheet.ApplyButton()->click();
        QCOMPARE(shown->applies, 1);
        QCOMPARE(never->applies, 0);
        QVERIFY(!sheet.ApplyButton()->isEnabled());

        shown->refuse = true;
        shown->SetModified();
        sheet.ApplyButton()->click();
        QVERIFY(sheet.ApplyButton()->isEnabled());  // still pending
        sheet.OkButton()->click();
        QCOMPARE(shown->oks, 1);
        QVERIFY(sheet.isVisible());  // a page refused: the sheet stays open

        shown->refuse = false;
        sheet.OkButton()->click();
        QCOMPARE(shown->oks, 2);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
        QCOMPARE(never->oks, 0);

        sheet.show();
        sheet.CancelButton()->click();
        QCOMPARE(shown->cancels, 1);
        QCOMPARE(never->cancels, 0);
        QCOMPARE(sheet.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(PropertySheetTest)
#include "property_sheet_qtest.moc"
