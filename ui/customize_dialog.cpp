#include "ui/customize_dialog.h"

#include <QDialogButtonBox>
#include <QTabWidget>
#include <QVBoxLayout>

CCustomizeDialog::CCustomizeDialog(CCommandManager& commands, CToolbarManager& toolbars, QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)) {
    setWindowTitle(tr("Customize"));
    setObjectName(QStringLiteral("CustomizeDialog"));
    tabs_->addTab(CreateCommandsPage(commands, toolbars, tabs_), tr("Commands"));
    tabs_->addTab(CreateToolbarsPage(toolbars, tabs_), tr("Toolbars"));
    tabs_->addTab(CreateKeyboardPage(commands, tabs_), tr("Keyboard"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
}
