#pragma once
// CPropertySheet: a modal sheet of property pages with a navigation tree at
// the left and OK, Cancel and Apply buttons. With the tree look, pages can be
// grouped under categories; with any other look every page is a plain entry
// of the navigation. The sheet does not own its pages beyond Qt parenting.
#include "ui/property_page.h"

#include <QColor>
#include <QDialog>
#include <QList>
#include <QPixmap>

class QDialogButtonBox;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

class CPropertySheet : public QDialog {
    Q_OBJECT
public:
    // The looks of the original framework; only Tree groups pages.
    enum class Look { Tabs = 0, OutlookBar = 1, Tree = 2, OneNoteTabs = 3, List = 4 };

    explicit CPropertySheet(const QString& title, QWidget* parent = nullptr);

    void SetLook(Look look, int navigationWidth = 100);
    Look GetLook() const { return look_; }
    // Navigation icons from a bitmap strip, each iconWidth wide; pixels of
    // the transparent colour become transparent. False for an unknown strip.
    bool SetIconsList(unsigned bitmapId, int iconWidth, QColor transparent = QColor(0xFF, 0x00, 0xFF));

    // Null unless the look is Tree. Icon numbers index the icons list (-1: none).
    QTreeWidgetItem* AddTreeCategory(const QString& label, int icon = -1, int selectedIcon = -1,
                                     QTreeWidgetItem* parentCategory = nullptr);
    void AddPageToTree(QTreeWidgetItem* category, CPropertyPage* page, int icon = -1, int selectedIcon = -1);
    void AddPage(CPropertyPage* page);

    CPropertyPage* ActivePage() const;
    void SetActivePage(CPropertyPage* page);
    const QList<CPropertyPage*>& Pages() const { return pages_; }

    QTreeWidget* NavigationTree() const { return navigation_; }
    QPushButton* OkButton() const;
    QPushButton* ApplyButton() const;
    QPushButton* CancelButton() const;

    // Shows the sheet modally; QDialog::Accepted when closed with OK.
    int DoModal();
    // The Apply button's step: every initialised page applies; false (and
    // that page brought to the front) when one refused.
    bool ApplyAll();

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidgetItem* AddNavigationItem(QTreeWidgetItem* parent, const QString& label, int icon, int selectedIcon);
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void UpdateApplyButton();
    QIcon IconAt(int index) const;

    Look look_ = Look::Tree;
    QList<QPixmap> icons_;
    QList<CPropertyPage*> pages_;  // owned through Qt parenting
    QTreeWidget* navigation_;
    QStackedWidget* stack_;
    QDialogButtonBox* buttons_;
};
