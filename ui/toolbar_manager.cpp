#include "ui/toolbar_manager.h"

#include "platform/hive_key.h"
#include "ui/command_manager.h"
#include "ui/profile_store.h"

#include <QMainWindow>
#include <QToolBar>

namespace {

constexpr char kButtonsProperty[] = "qvButtons";
constexpr char16_t kStandardValue[] = u"Standard";

QString ButtonsText(const QList<int>& buttons) {
    QStringList parts;
    for (int id : buttons) parts.append(QString::number(id));
    return parts.join(QLatin1Char(','));
}

QList<int> ParseButtons(const QString& text, const CCommandManager& commands) {
    QList<int> buttons;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int id = part.trimmed().toInt(&ok);
        if (ok && (id == CToolbarManager::kSeparator || commands.Action(id))) buttons.append(id);
    }
    return buttons;
}

std::u16string UserValue(int index, const char16_t* what) {
    return u"User" + ToHiveText(QString::number(index + 1)) + what;
}

}  // namespace

CToolbarManager::CToolbarManager(QMainWindow* window, CCommandManager& commands)
    : QObject(window), window_(window), commands_(commands) {}

QString CToolbarManager::UserObjectName(int index) { return QStringLiteral("UserToolbar%1").arg(index + 1); }

QToolBar* CToolbarManager::MakeToolbar(const QString& objectName, const QString& title) {
    auto* toolbar = new QToolBar(title, window_);
    toolbar->setObjectName(objectName);
    toolbar->setMovable(true);
    toolbar->setAllowedAreas(Qt::AllToolBarAreas);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    window_->addToolBar(Qt::TopToolBarArea, toolbar);
    toolbar->setVisible(true);  // a toolbar added to a shown window stays hidden otherwise
    return toolbar;
}

QToolBar* CToolbarManager::CreateStandard(const QString& objectName, const QString& title, const QList<int>& buttons) {
    standard_ = MakeToolbar(objectName, title);
    standardDefault_ = buttons;
    SetButtons(standard_, buttons);
    return standard_;
}

QToolBar* CToolbarManager::UserToolbar(int index) const {
    return index >= 0 && index < kMaxUserToolbars ? user_[static_cast<std::size_t>(index)] : nullptr;
}

int CToolbarManager::UserIndex(const QToolBar* toolbar) const {
    for (int i = 0; i < kMaxUserToolbars; ++i)
        if (toolbar && user_[static_cast<std::size_t>(i)] == toolbar) return i;
    return -1;
}

QToolBar* CToolbarManager::CreateUserToolbarAt(int index, const QString& name) {
    QToolBar* toolbar = MakeToolbar(UserObjectName(index), name);
    user_[static_cast<std::size_t>(index)] = toolbar;
    SetButtons(toolbar, {});
    return toolbar;
}

QToolBar* CToolbarManager::CreateUserToolbar(const QString& name) {
    for (int i = 0; i < kMaxUserToolbars; ++i) {
        if (!user_[static_cast<std::size_t>(i)]) {
            QToolBar* toolbar = CreateUserToolbarAt(i, name);
            emit ToolbarsChanged();
            return toolbar;
        }
    }
    return nullptr;
}

bool CToolbarManager::DeleteUserToolbar(int index) {
    QToolBar* toolbar = UserToolbar(index);
    if (!toolbar) return false;
    user_[static_cast<std::size_t>(index)] = nullptr;
    window_->removeToolBar(toolbar);
    delete toolbar;
    emit ToolbarsChanged();
    return true;
}

bool CToolbarManager::RenameUserToolbar(int index, const QString& name) {
    QToolBar* toolbar = UserToolbar(index);
    if (!toolbar || name.trimmed().isEmpty()) return false;
    toolbar->setWindowTitle(name.trimmed());
    emit ToolbarsChanged();
    return true;
}

QList<QToolBar*> CToolbarManager::Toolbars() const {
    QList<QToolBar*> toolbars;
    if (standard_) toolbars.append(standard_);
    for (QToolBar* toolbar : user_)
        if (toolbar) toolbars.append(toolbar);
    return toolbars;
}

QList<int> CToolbarManager::Buttons(const QToolBar* toolbar) const {
    return toolbar ? toolbar->property(kButtonsProperty).value<QList<int>>() : QList<int>{};
}

void CToolbarManager::SetButtons(QToolBar* toolbar, const QList<int>& buttons) {
    if (!toolbar) return;
    toolbar->clear();
    QList<int> kept;
    for (int id : buttons) {
        if (id == kSeparator) {
            toolbar->addSeparator();
            kept.append(id);
        } else if (QAction* action = commands_.Action(id)) {
            toolbar->addAction(action);
            kept.append(id);
        }
    }
    toolbar->setProperty(kButtonsProperty, QVariant::fromValue(kept));
    emit ToolbarsChanged();
}

void CToolbarManager::ResetStandard() { SetButtons(standard_, standardDefault_); }

void CToolbarManager::Save(HiveKey& key) const {
    for (const std::u16string& name : key.ValueNames()) key.DeleteValue(name);
    key.SetString(kStandardValue, ToHiveText(ButtonsText(Buttons(standard_))));
    for (int i = 0; i < kMaxUserToolbars; ++i) {
        const QToolBar* toolbar = user_[static_cast<std::size_t>(i)];
        if (!toolbar) continue;
        key.SetString(UserValue(i, u"Name"), ToHiveText(toolbar->windowTitle()));
        key.SetString(UserValue(i, u"Buttons"), ToHiveText(ButtonsText(Buttons(toolbar))));
    }
}

void CToolbarManager::Load(const HiveKey& key) {
    if (const auto text = key.GetString(kStandardValue); text && standard_)
        SetButtons(standard_, ParseButtons(FromHiveText(*text), commands_));
    for (int i = 0; i < kMaxUserToolbars; ++i) {
        DeleteUserToolbar(i);
        const auto name = key.GetString(UserValue(i, u"Name"));
        if (!name || FromHiveText(*name).trimmed().isEmpty()) continue;
        QToolBar* toolbar = CreateUserToolbarAt(i, FromHiveText(*name).trimmed());
        if (const auto buttons = key.GetString(UserValue(i, u"Buttons")))
            SetButtons(toolbar, ParseButtons(FromHiveText(*buttons), commands_));
    }
    emit ToolbarsChanged();
}
