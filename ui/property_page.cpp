#include "ui/property_page.h"

CPropertyPage::CPropertyPage(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {}

void CPropertyPage::SetModified(bool modified) {
    if (modified_ == modified) return;
    modified_ = modified;
    emit ModifiedChanged(modified);
}

bool CPropertyPage::OnApply() {
    SetModified(false);
    return true;
}

void CPropertyPage::Initialize() {
    if (initialized_) return;
    initialized_ = true;
    OnInitDialog();
}
