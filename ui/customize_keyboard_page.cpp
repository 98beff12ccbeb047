// The Keyboard page: the keys of a command, a new key pressed in the edit
// field and assigned (taken from any command that had it), keys removed, all
// keys reset to their defaults.
#include "ui/command_manager.h"
#include "ui/customize_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {

class KeyboardPage : public QWidget {
public:
    KeyboardPage(CCommandManager& commands, QWidget* parent) : QWidget(parent), commands_(commands) {
        setObjectName(QStringLiteral("KeyboardPage"));
        categoryBox_->setObjectName(QStringLiteral("Category"));
        commandList_->setObjectName(QStringLiteral("Commands"));
        keyList_->setObjectName(QStringLiteral("CurrentKeys"));
        keyEdit_->setObjectName(QStringLiteral("NewKey"));
        assignedTo_->setObjectName(QStringLiteral("AssignedTo"));
        assign_->setObjectName(QStringLiteral("Assign"));
        remove_->setObjectName(QStringLiteral("Remove"));
        resetAll_->setObjectName(QStringLiteral("ResetAll"));
        categoryBox_->addItems(commands_.Categories());

        auto* grid = new QGridLayout(this);
        grid->addWidget(new QLabel(QStringLiteral("Category:"), this), 0, 0);
        grid->addWidget(categoryBox_, 1, 0);
        grid->addWidget(new QLabel(QStringLiteral("Commands:"), this), 2, 0);
        grid->addWidget(commandList_, 3, 0, 4, 1);
        grid->addWidget(new QLabel(QStringLiteral("Current keys:"), this), 0, 1);
        grid->addWidget(keyList_, 1, 1, 2, 1);
        grid->addWidget(new QLabel(QStringLiteral("Press new shortcut key:"), this), 3, 1);
        grid->addWidget(keyEdit_, 4, 1);
        grid->addWidget(assignedTo_, 5, 1);
        grid->addWidget(assign_, 1, 2);
        grid->addWidget(remove_, 2, 2);
        grid->addWidget(resetAll_, 3, 2);

        connect(categoryBox_, &QComboBox::currentIndexChanged, this, [this] { FillCommands(); });
        connect(commandList_, &QListWidget::currentRowChanged, this, [this] { FillKeys(); });
        connect(keyEdit_, &QKeySequenceEdit::keySequenceChanged, this, [this] { ShowOwner(); });
        connect(assign_, &QPushButton::clicked, this, [this] { Assign(); });
        connect(remove_, &QPushButton::clicked, this, [this] { Remove(); });
        connect(resetAll_, &QPushButton::clicked, this, [this] { commands_.ResetKeys(); });
        connect(&commands_, &CCommandManager::KeysChanged, this, [this] { FillKeys(); });
        FillCommands();
    }

private:
    int Command() const {
        const QListWidgetItem* item = commandList_->currentItem();
        return item ? item->data(Qt::UserRole).toInt() : 0;
    }

    void FillCommands() {
        commandList_->clear();
        for (int id : commands_.CommandsIn(categoryBox_->currentText())) {
            auto* item = new QListWidgetItem(commands_.DisplayText(id), commandList_);
            item->setData(Qt::UserRole, id);
        }
        commandList_->setCurrentRow(0);
        FillKeys();
    }

    void FillKeys() {
        keyList_->clear();
        for (const QKeySequence& key : commands_.CurrentKeys(Command()))
            keyList_->addItem(key.toString(QKeySequence::NativeText));
        keyList_->setCurrentRow(0);
        remove_->setEnabled(keyList_->count() > 0);
        ShowOwner();
    }

    void ShowOwner() {
        const QKeySequence key = keyEdit_->keySequence();
        const int owner = key.isEmpty() ? 0 : commands_.CommandForKey(key);
        assignedTo_->setText(owner ? QStringLiteral("Assigned to: %1").arg(commands_.DisplayText(owner))
                                   : QStringLiteral("Assigned to: [unassigned]"));
        assign_->setEnabled(Command() != 0 && !key.isEmpty());
    }

    void Assign() {
        const QKeySequence key = keyEdit_->keySequence();
        if (!Command() || key.isEmpty()) return;
        CCommandManager::Keys keys = commands_.CurrentKeys(Command());
        if (!keys.contains(key)) keys.append(key);
        commands_.SetKeys(Command(), keys);
        keyEdit_->clear();
    }

    void Remove() {
        const int row = keyList_->currentRow();
        CCommandManager::Keys keys = commands_.CurrentKeys(Command());
        if (row < 0 || row >= keys.size()) return;
        keys.removeAt(row);
        commands_.SetKeys(Command(), keys);
    }

    CCommandManager& commands_;
    QComboBox* categoryBox_ = new QComboBox(this);
    QListWidget* commandList_ = new QListWidget(this);
    QListWidget* keyList_ = new QListWidget(this);
    QKeySequenceEdit* keyEdit_ = new QKeySequenceEdit(this);
    QLabel* assignedTo_ = new QLabel(this);
    QPushButton* assign_ = new QPushButton(QStringLiteral("&Assign"), this);
    QPushButton* remove_ = new QPushButton(QStringLiteral("&Remove"), this);
    QPushButton* resetAll_ = new QPushButton(QStringLiteral("Reset &All"), this);
};

}  // namespace

QWidget* CreateKeyboardPage(CCommandManager& commands, QWidget* parent) { return new KeyboardPage(commands, parent); }
