#include "ui/command_manager.h"

#include "platform/hive_key.h"
#include "ui/profile_store.h"

#include <QRegularExpression>
#include <QWidget>

namespace {

constexpr QLatin1StringView kKeySeparator{"; "};

}  // namespace

CCommandManager::CCommandManager(QWidget* window) : QObject(window), window_(window) {}

CCommandManager::~CCommandManager() = default;

QAction* CCommandManager::Add(int id, const QString& category, const QString& text, std::function<void()> handler,
                              const Keys& keys) {
    auto* action = new QAction(text, window_);
    action->setData(id);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    if (handler) connect(action, &QAction::triggered, this, [h = std::move(handler)] { h(); });
    window_->addAction(action);
    index_[id] = commands_.size();
    commands_.push_back({id, category, action, keys, text});
    return action;
}

const CCommandManager::Command* CCommandManager::Find(int id) const {
    const auto it = index_.find(id);
    return it == index_.end() ? nullptr : &commands_[it->second];
}

QAction* CCommandManager::Action(int id) const {
    const Command* command = Find(id);
    return command ? command->action : nullptr;
}

int CCommandManager::IdOf(const QAction* action) const {
    for (const Command& command : commands_)
        if (command.action == action) return command.id;
    return 0;
}

QList<int> CCommandManager::Ids() const {
    QList<int> ids;
    for (const Command& command : commands_) ids.append(command.id);
    return ids;
}

QString CCommandManager::Category(int id) const {
    const Command* command = Find(id);
    return command ? command->category : QString();
}

QStringList CCommandManager::Categories() const {
    QStringList categories;
    for (const Command& command : commands_)
        if (!command.category.isEmpty() && !categories.contains(command.category)) categories.append(command.category);
    return categories;
}

QList<int> CCommandManager::CommandsIn(const QString& category) const {
    QList<int> ids;
    for (const Command& command : commands_)
        if (command.category == category) ids.append(command.id);
    return ids;
}

QString CCommandManager::DisplayText(int id) const {
    const Command* command = Find(id);
    if (!command) return {};
    QString text = command->action->text().section(QLatin1Char('\t'), 0, 0);
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    while (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

bool CCommandManager::Execute(int id) {
    QAction* action = Action(id);
    if (!action || !action->isEnabled()) return false;
    action->trigger();
    return true;
}

CCommandManager::Keys CCommandManager::DefaultKeys(int id) const {
    const Command* command = Find(id);
    return command ? command->defaultKeys : Keys{};
}

CCommandManager::Keys CCommandManager::CurrentKeys(int id) const {
    const Command* command = Find(id);
    return command ? command->action->shortcuts() : Keys{};
}

void CCommandManager::SetKeys(int id, const Keys& keys) {
    const Command* target = Find(id);
    if (!target) return;
    for (const Command& other : commands_) {
        if (other.id == id) continue;
        Keys kept = other.action->shortcuts();
        const auto removed = kept.removeIf([&](const QKeySequence& key) { return keys.contains(key); });
        if (removed) other.action->setShortcuts(kept);
    }
    target->action->setShortcuts(keys);
    for (const Command& command : commands_) UpdateKeyText(command);
    emit KeysChanged();
}

void CCommandManager::ResetKeys() {
    for (const Command& command : commands_) {
        command.action->setShortcuts(command.defaultKeys);
        UpdateKeyText(command);
    }
    emit KeysChanged();
}

void CCommandManager::UpdateKeyText(const Command& command) {
    const Keys keys = command.action->shortcuts();
    if (keys == command.defaultKeys) {
        command.action->setText(command.text);
        return;
    }
    QString text = command.text.section(QLatin1Char('\t'), 0, 0);
    if (!keys.isEmpty()) text += QLatin1Char('\t') + keys.first().toString(QKeySequence::NativeText);
    command.action->setText(text);
}

int CCommandManager::CommandForKey(const QKeySequence& key) const {
    for (const Command& command : commands_)
        if (command.action->shortcuts().contains(key)) return command.id;
    return 0;
}

void CCommandManager::SaveKeys(HiveKey& key) const {
    for (const std::u16string& name : key.ValueNames()) key.DeleteValue(name);
    for (const Command& command : commands_) {
        const Keys keys = command.action->shortcuts();
        if (keys == command.defaultKeys) continue;
        QStringList texts;
        for (const QKeySequence& sequence : keys) texts.append(sequence.toString(QKeySequence::PortableText));
        key.SetString(ToHiveText(QString::number(command.id)), ToHiveText(texts.join(kKeySeparator)));
    }
}

void CCommandManager::LoadKeys(const HiveKey& key) {
    for (const std::u16string& name : key.ValueNames()) {
        bool isNumber = false;
        const int id = FromHiveText(name).toInt(&isNumber);
        const auto text = key.GetString(name);
        if (!isNumber || !Find(id) || !text) continue;
        Keys keys;
        for (const QString& part : FromHiveText(*text).split(kKeySeparator, Qt::SkipEmptyParts)) {
            const QKeySequence sequence = QKeySequence::fromString(part.trimmed(), QKeySequence::PortableText);
            if (!sequence.isEmpty()) keys.append(sequence);
        }
        SetKeys(id, keys);
    }
}
