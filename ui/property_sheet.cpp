#include "ui/property_sheet.h"

#include "resources/app_resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPageRole = Qt::UserRole;
constexpr int kIconRole = Qt::UserRole + 1;
constexpr int kSelectedIconRole = Qt::UserRole + 2;

CPropertyPage* PageOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kPageRole).value<CPropertyPage*>() : nullptr;
}

}  // namespace

CPropertySheet::CPropertySheet(const QString& title, QWidget* parent)
    : QDialog(parent),
      navigation_(new QTreeWidget(this)),
      stack_(new QStackedWidget(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this)) {
    setWindowTitle(title);
    navigation_->setHeaderHidden(true);
    navigation_->setRootIsDecorated(true);
    navigation_->setObjectName(QStringLiteral("navigation"));

    auto* body = new QHBoxLayout;
    body->addWidget(navigation_);
    body->addWidget(stack_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons_);

    ApplyButton()->setEnabled(false);
    connect(buttons_, &QDialogButtonBox::accepted, this, &CPropertySheet::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &CPropertySheet::reject);
    connect(ApplyButton(), &QPushButton::clicked, this, &CPropertySheet::ApplyAll);
    connect(navigation_, &QTreeWidget::currentItemChanged, this, &CPropertySheet::OnCurrentItemChanged);
    SetLook(look_);
}

void CPropertySheet::SetLook(Look look, int navigationWidth) {
    look_ = look;
    navigation_->setFixedWidth(navigationWidth);
    navigation_->setRootIsDecorated(look == Look::Tree);
}

bool CPropertySheet::SetIconsList(unsigned bitmapId, int iconWidth, QColor transparent) {
    const QPixmap strip = ToolbarImage(bitmapId);
    if (strip.isNull() || iconWidth < 1) return false;
    QImage image = strip.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == key) image.setPixel(x, y, qRgba(0, 0, 0, 0));
        }
    }
    icons_.clear();
    for (int x = 0; x + iconWidth <= image.width(); x += iconWidth)
        icons_.append(QPixmap::fromImage(image.copy(x, 0, iconWidth, image.height())));
    navigation_->setIconSize(QSize(iconWidth, image.height()));
    return true;
}

QIcon CPropertySheet::IconAt(int index) const {
    return index >= 0 && index < icons_.size() ? QIcon(icons_.at(index)) : QIcon();
}

QTreeWidgetItem* CPropertySheet::AddNavigationItem(QTreeWidgetItem* parent, const QString& label, int icon,
                                                   int selectedIcon) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(navigation_);
    item->setText(0, label);
    item->setData(0, kIconRole, icon);
    item->setData(0, kSelectedIconRole, selectedIcon < 0 ? icon : selectedIcon);
    item->setIcon(0, IconAt(icon));
    return item;
}

QTreeWidgetItem* CPropertySheet::AddTreeCategory(const QString& label, int icon, int selectedIcon,
                                                 QTreeWidgetItem* parentCategory) {
    if (look_ != Look::Tree) return nullptr;
    QTreeWidgetItem* item = AddNavigationItem(parentCategory, label, icon, selectedIcon);
    item->setExpanded(true);
    return item;
}

void CPropertySheet::AddPageToTree(QTreeWidgetItem* category, CPropertyPage* page, int icon, int selectedIcon) {
    if (page == nullptr) return;
    pages_.append(page);
    stack_->addWidget(page);
    QTreeWidgetItem* item = AddNavigationItem(category, page->Caption(), icon, selectedIcon);
    item->setData(0, kPageRole, QVariant::fromValue(page));
    if (category) category->setExpanded(true);
    connect(page, &CPropertyPage::ModifiedChanged, this, &CPropertySheet::UpdateApplyButton);
    if (navigation_->currentItem() == nullptr) navigation_->setCurrentItem(item);
}

void CPropertySheet::AddPage(CPropertyPage* page) { AddPageToTree(nullptr, page); }

CPropertyPage* CPropertySheet::ActivePage() const { return qobject_cast<CPropertyPage*>(stack_->currentWidget()); }

void CPropertySheet::SetActivePage(CPropertyPage* page) {
    for (QTreeWidgetItemIterator it(navigation_); *it; ++it) {
        if (PageOf(*it) == page) {
            navigation_->setCurrentItem(*it);
            return;
        }
    }
}

void CPropertySheet::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (previous) previous->setIcon(0, IconAt(previous->data(0, kIconRole).toInt()));
    if (current == nullptr) return;
    current->setIcon(0, IconAt(current->data(0, kSelectedIconRole).toInt()));
    CPropertyPage* page = PageOf(current);
    // A category shows its first page.
    for (int i = 0; page == nullptr && i < current->childCount(); ++i) page = PageOf(current->child(i));
    if (page == nullptr) return;
    if (isVisible()) page->Initialize();
    stack_->setCurrentWidget(page);
}

QPushButton* CPropertySheet::OkButton() const { return buttons_->button(QDialogButtonBox::Ok); }

QPushButton* CPropertySheet::ApplyButton() const { return buttons_->button(QDialogButtonBox::Apply); }

QPushButton* CPropertySheet::CancelButton() const { return buttons_->button(QDialogButtonBox::Cancel); }

void CPropertySheet::UpdateApplyButton() {
    bool modified = false;
    for (const CPropertyPage* page : pages_) modified = modified || page->IsModified();
    ApplyButton()->setEnabled(modified);
}

void CPropertySheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (CPropertyPage* page = ActivePage()) page->Initialize();
}

int CPropertySheet::DoModal() { return exec(); }

bool CPropertySheet::ApplyAll() {
    for (CPropertyPage* page : pages_) {
        if (page->IsInitialized() && !page->OnApply()) {
            SetActivePage(page);
            return false;
        }
    }
    UpdateApplyButton();
    return true;
}

void CPropertySheet::accept() {
    for (CPropertyPage* page : pages_) {
        if (page->IsInitialized() && !page->OnOK()) {
            SetActivePage(page);
            return;
        }
    }
    QDialog::accept();
}

void CPropertySheet::reject() {
    for (CPropertyPage* page : pages_) {
        if (page->IsInitialized()) page->OnCancel();
    }
    QDialog::reject();
}
