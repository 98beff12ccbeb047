// The Commands page: pick a command by category and put it on a toolbar;
// take buttons off, add separators, reorder, reset the standard toolbar.
#include "ui/command_manager.h"
#include "ui/customize_dialog.h"
#include "ui/toolbar_manager.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolBar>

namespace {

const QString kAllCommands = QStringLiteral("All Commands");

class CommandsPage : public QWidget {
public:
    CommandsPage(CCommandManager& commands, CToolbarManager& toolbars, QWidget* parent)
        : QWidget(parent), commands_(commands), toolbars_(toolbars) {
        setObjectName(QStringLiteral("CommandsPage"));
        categories_->setObjectName(QStringLiteral("Categories"));
        commandList_->setObjectName(QStringLiteral("Commands"));
        toolbarBox_->setObjectName(QStringLiteral("Toolbar"));
        buttonList_->setObjectName(QStringLiteral("Buttons"));
        categories_->addItems(commands_.Categories());
        categories_->addItem(kAllCommands);

        auto* add = Button(QStringLiteral("&Add"), "Add");
        auto* remove = Button(QStringLiteral("&Remove"), "Remove");
        auto* separator = Button(QStringLiteral("&Separator"), "AddSeparator");
        auto* up = Button(QStringLiteral("Move &Up"), "MoveUp");
        auto* down = Button(QStringLiteral("Move &Down"), "MoveDown");
        auto* reset = Button(QStringLiteral("Rese&t"), "Reset");

        auto* grid = new QGridLayout(this);
        grid->addWidget(new QLabel(QStringLiteral("Categories:"), this), 0, 0);
        grid->addWidget(categories_, 1, 0, 7, 1);
        grid->addWidget(new QLabel(QStringLiteral("Commands:"), this), 0, 1);
        grid->addWidget(commandList_, 1, 1, 7, 1);
        grid->addWidget(new QLabel(QStringLiteral("Toolbar:"), this), 0, 2);
        grid->addWidget(toolbarBox_, 1, 2);
        grid->addWidget(buttonList_, 2, 2, 6, 1);
        const QList<QPushButton*> column = {add, remove, separator, up, down, reset};
        for (int i = 0; i < column.size(); ++i) grid->addWidget(column[i], 2 + i, 3);

        connect(categories_, &QListWidget::currentRowChanged, this, [this] { FillCommands(); });
        connect(toolbarBox_, &QComboBox::currentIndexChanged, this, [this] { FillButtons(); });
        connect(add, &QPushButton::clicked, this, [this] { InsertButton(SelectedCommand()); });
        connect(separator, &QPushButton::clicked, this, [this] { InsertButton(CToolbarManager::kSeparator); });
        connect(remove, &QPushButton::clicked, this, [this] { RemoveButton(); });
        connect(up, &QPushButton::clicked, this, [this] { MoveButton(-1); });
        connect(down, &QPushButton::clicked, this, [this] { MoveButton(1); });
        connect(reset, &QPushButton::clicked, this, [this] {
            if (CurrentToolbar() == toolbars_.Standard()) toolbars_.ResetStandard();
            FillButtons();
        });
        connect(&toolbars_, &CToolbarManager::ToolbarsChanged, this, [this] { FillToolbars(); });
        FillToolbars();
        categories_->setCurrentRow(0);
    }

private:
    QPushButton* Button(const QString& text, const char* name) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(QLatin1String(name));
        return button;
    }

    void FillCommands() {
        commandList_->clear();
        const QListWidgetItem* category = categories_->currentItem();
        if (!category) return;
        const QList<int> ids =
            category->text() == kAllCommands ? commands_.Ids() : commands_.CommandsIn(category->text());
        for (int id : ids) {
            auto* item = new QListWidgetItem(commands_.Action(id)->icon(), commands_.DisplayText(id), commandList_);
            item->setData(Qt::UserRole, id);
        }
        commandList_->setCurrentRow(0);
    }

    void FillToolbars() {
        const QString keep = toolbarBox_->currentData().toString();
        const QSignalBlocker block(toolbarBox_);
        toolbarBox_->clear();
        for (QToolBar* toolbar : toolbars_.Toolbars())
            toolbarBox_->addItem(toolbar->windowTitle(), toolbar->objectName());
        const int index = toolbarBox_->findData(keep);
        toolbarBox_->setCurrentIndex(index < 0 ? 0 : index);
        FillButtons();
    }

    void FillButtons() {
        const int row = buttonList_->currentRow();
        buttonList_->clear();
        for (int id : toolbars_.Buttons(CurrentToolbar())) {
            const bool separator = id == CToolbarManager::kSeparator;
            auto* item =
                new QListWidgetItem(separator ? QStringLiteral("Separator") : commands_.DisplayText(id), buttonList_);
            if (!separator) item->setIcon(commands_.Action(id)->icon());
            item->setData(Qt::UserRole, id);
        }
        buttonList_->setCurrentRow(std::min(row, buttonList_->count() - 1));
    }

    // By name: the combo box must not hold a toolbar that may be deleted.
    QToolBar* CurrentToolbar() const {
        const QString name = toolbarBox_->currentData().toString();
        for (QToolBar* toolbar : toolbars_.Toolbars())
            if (toolbar->objectName() == name) return toolbar;
        return nullptr;
    }

    int SelectedCommand() const {
        const QListWidgetItem* item = commandList_->currentItem();
        return item ? item->data(Qt::UserRole).toInt() : -1;
    }

    // After the selected button, or at the end.
    void InsertButton(int id) {
        QToolBar* toolbar = CurrentToolbar();
        if (!toolbar || id < 0) return;
        QList<int> buttons = toolbars_.Buttons(toolbar);
        const int at = buttonList_->currentRow() < 0 ? buttons.size() : buttonList_->currentRow() + 1;
        buttons.insert(at, id);
        toolbars_.SetButtons(toolbar, buttons);
        buttonList_->setCurrentRow(at);
    }

    void RemoveButton() {
        QToolBar* toolbar = CurrentToolbar();
        const int row = buttonList_->currentRow();
        QList<int> buttons = toolbars_.Buttons(toolbar);
        if (!toolbar || row < 0 || row >= buttons.size()) return;
        buttons.removeAt(row);
        toolbars_.SetButtons(toolbar, buttons);
    }

    void MoveButton(int by) {
        QToolBar* toolbar = CurrentToolbar();
        const int row = buttonList_->currentRow();
        QList<int> buttons = toolbars_.Buttons(toolbar);
        if (!toolbar || row < 0 || row + by < 0 || row + by >= buttons.size()) return;
        buttons.move(row, row + by);
        toolbars_.SetButtons(toolbar, buttons);
        buttonList_->setCurrentRow(row + by);
    }

    CCommandManager& commands_;
    CToolbarManager& toolbars_;
    QListWidget* categories_ = new QListWidget(this);
    QListWidget* commandList_ = new QListWidget(this);
    QComboBox* toolbarBox_ = new QComboBox(this);
    QListWidget* buttonList_ = new QListWidget(this);
};

}  // namespace

QWidget* CreateCommandsPage(CCommandManager& commands, CToolbarManager& toolbars, QWidget* parent) {
    return new CommandsPage(commands, toolbars, parent);
}
