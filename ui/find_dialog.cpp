#include "ui/find_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

CFindDialog::CFindDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("Find"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);

    text_ = new QLineEdit(this);
    auto* label = new QLabel(tr("Fi&nd what:"), this);
    label->setBuddy(text_);
    matchCase_ = new QCheckBox(tr("Match &case"), this);
    auto* direction = new QGroupBox(tr("Direction"), this);
    up_ = new QRadioButton(tr("&Up"), direction);
    down_ = new QRadioButton(tr("&Down"), direction);
    down_->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(up_);
    directionLayout->addWidget(down_);

    auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
    findNext_ = buttons->addButton(tr("&Find Next"), QDialogButtonBox::ActionRole);
    findNext_->setDefault(true);
    findNext_->setEnabled(false);
    buttons->addButton(QDialogButtonBox::Cancel);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(text_, 0, 1, 1, 2);
    grid->addWidget(matchCase_, 1, 0, 1, 2, Qt::AlignBottom);
    grid->addWidget(direction, 1, 2);
    grid->addWidget(buttons, 0, 3, 2, 1);

    connect(text_, &QLineEdit::textChanged, this,
            [this](const QString& text) { findNext_->setEnabled(!text.isEmpty()); });
    connect(findNext_, &QPushButton::clicked, this, &CFindDialog::FindNext);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString CFindDialog::FindText() const { return text_->text(); }
bool CFindDialog::MatchCase() const { return matchCase_->isChecked(); }
bool CFindDialog::SearchDown() const { return down_->isChecked(); }
void CFindDialog::SetFindText(const QString& text) { text_->setText(text); }
void CFindDialog::SetSearchDown(bool down) { (down ? down_ : up_)->setChecked(true); }

void CFindDialog::FindNext() {
    if (!text_->text().isEmpty()) emit FindNextRequested(text_->text(), MatchCase(), SearchDown());
}

void CFindDialog::done(int result) {
    emit Closing();
    QDialog::done(result);
}
