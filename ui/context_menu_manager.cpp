#include "ui/context_menu_manager.h"

#include "ui/command_manager.h"

#include <QMenu>
#include <QWidget>

CContextMenuManager::CContextMenuManager(CCommandManager& commands, QWidget* window)
    : QObject(window), commands_(commands), window_(window) {}

QMenu* CContextMenuManager::AddMenu(const QString& name, unsigned resourceId, const QList<int>& commandIds) {
    if (auto old = menus_.find(resourceId); old != menus_.end()) {
        delete old->second;
        menus_.erase(old);
    }
    auto* menu = new QMenu(name, window_);
    menu->setObjectName(QStringLiteral("ContextMenu%1").arg(resourceId));
    for (int id : commandIds)
        if (QAction* action = commands_.Action(id)) menu->addAction(action);
    menus_.emplace(resourceId, menu);
    return menu;
}

QMenu* CContextMenuManager::Menu(unsigned resourceId) const {
    const auto found = menus_.find(resourceId);
    return found == menus_.end() ? nullptr : found->second;
}

bool CContextMenuManager::ShowPopupMenu(unsigned resourceId, const QPoint& globalPos) {
    QMenu* menu = Menu(resourceId);
    if (!menu) return false;
    menu->popup(globalPos);
    return true;
}
