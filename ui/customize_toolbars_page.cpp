// The Toolbars page: show or hide each toolbar; make, rename and delete the
// user-defined ones (at most ten); reset the standard one.
#include "ui/customize_dialog.h"

#include <algorithm>
#include "ui/toolbar_manager.h"

#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolBar>

namespace {

class ToolbarsPage : public QWidget {
public:
    ToolbarsPage(CToolbarManager& toolbars, QWidget* parent) : QWidget(parent), toolbars_(toolbars) {
        setObjectName(QStringLiteral("ToolbarsPage"));
        list_->setObjectName(QStringLiteral("ToolbarList"));
        newButton_->setObjectName(QStringLiteral("New"));
        renameButton_->setObjectName(QStringLiteral("Rename"));
        deleteButton_->setObjectName(QStringLiteral("Delete"));
        resetButton_->setObjectName(QStringLiteral("Reset"));
        auto* grid = new QGridLayout(this);
        grid->addWidget(list_, 0, 0, 5, 1);
        grid->addWidget(newButton_, 0, 1);
        grid->addWidget(renameButton_, 1, 1);
        grid->addWidget(deleteButton_, 2, 1);
        grid->addWidget(resetButton_, 3, 1);
        grid->setRowStretch(4, 1);

        connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
            if (auto* toolbar = ToolbarOf(item)) toolbar->setVisible(item->checkState() == Qt::Checked);
        });
        connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
        connect(newButton_, &QPushButton::clicked, this, [this] { NewToolbar(); });
        connect(renameButton_, &QPushButton::clicked, this, [this] { RenameToolbar(); });
        connect(deleteButton_, &QPushButton::clicked, this,
                [this] { toolbars_.DeleteUserToolbar(toolbars_.UserIndex(Current())); });
        connect(resetButton_, &QPushButton::clicked, this, [this] { toolbars_.ResetStandard(); });
        connect(&toolbars_, &CToolbarManager::ToolbarsChanged, this, [this] { Fill(); });
        Fill();
    }

private:
    // By name: the list must not hold a toolbar that may be deleted.
    QToolBar* ToolbarOf(const QListWidgetItem* item) const {
        if (!item) return nullptr;
        for (QToolBar* toolbar : toolbars_.Toolbars())
            if (toolbar->objectName() == item->data(Qt::UserRole).toString()) return toolbar;
        return nullptr;
    }
    QToolBar* Current() const { return ToolbarOf(list_->currentItem()); }

    void Fill() {
        const int row = list_->currentRow();
        const QSignalBlocker block(list_);
        list_->clear();
        for (QToolBar* toolbar : toolbars_.Toolbars()) {
            auto* item = new QListWidgetItem(toolbar->windowTitle(), list_);
            item->setData(Qt::UserRole, toolbar->objectName());
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(toolbar->isHidden() ? Qt::Unchecked : Qt::Checked);
        }
        list_->setCurrentRow(std::clamp(row, 0, list_->count() - 1));
        UpdateButtons();
    }

    void UpdateButtons() {
        const bool user = toolbars_.UserIndex(Current()) >= 0;
        renameButton_->setEnabled(user);
        deleteButton_->setEnabled(user);
        resetButton_->setEnabled(Current() && Current() == toolbars_.Standard());
        newButton_->setEnabled(toolbars_.Toolbars().size() < CToolbarManager::kMaxUserToolbars + 1);
    }

    void NewToolbar() {
        const QList<QToolBar*> existing = toolbars_.Toolbars();
        int number = 1;
        while (std::any_of(existing.cbegin(), existing.cend(), [&](const QToolBar* t) {
            return t->windowTitle() == QStringLiteral("Custom %1").arg(number);
        }))
            ++number;
        bool ok = false;
        const QString name = QInputDialog::getText(this, QStringLiteral("New Toolbar"), QStringLiteral("Toolbar name:"),
                                                   QLineEdit::Normal, QStringLiteral("Custom %1").arg(number), &ok);
        if (ok && !name.trimmed().isEmpty()) toolbars_.CreateUserToolbar(name.trimmed());
    }

    void RenameToolbar() {
        const int index = toolbars_.UserIndex(Current());
        if (index < 0) return;
        bool ok = false;
        const QString name =
            QInputDialog::getText(this, QStringLiteral("Rename Toolbar"), QStringLiteral("Toolbar name:"),
                                  QLineEdit::Normal, Current()->windowTitle(), &ok);
        if (ok) toolbars_.RenameUserToolbar(index, name);
    }

    CToolbarManager& toolbars_;
    QListWidget* list_ = new QListWidget(this);
    QPushButton* newButton_ = new QPushButton(QStringLiteral("&New..."), this);
    QPushButton* renameButton_ = new QPushButton(QStringLiteral("Re&name..."), this);
    QPushButton* deleteButton_ = new QPushButton(QStringLiteral("&Delete"), this);
    QPushButton* resetButton_ = new QPushButton(QStringLiteral("&Reset"), this);
};

}  // namespace

QWidget* CreateToolbarsPage(CToolbarManager& toolbars, QWidget* parent) { return new ToolbarsPage(toolbars, parent); }
