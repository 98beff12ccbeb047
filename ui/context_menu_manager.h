#pragma once
// Context menus made of commands, registered by name and resource id as the
// workspace loads ("My menu", 130: Cut, Copy, Paste). A menu holds the
// commands' own actions, so texts, keys and handlers are those of the menu
// bar and the keyboard.
#include <QList>
#include <QObject>
#include <QString>

#include <map>

class CCommandManager;
class QMenu;
class QPoint;
class QWidget;

class CContextMenuManager : public QObject {
    Q_OBJECT
public:
    // The menus are children of the window.
    CContextMenuManager(CCommandManager& commands, QWidget* window);

    // A menu of the commands that exist, in the given order; a menu of the
    // same resource id is replaced.
    QMenu* AddMenu(const QString& name, unsigned resourceId, const QList<int>& commandIds);
    QMenu* Menu(unsigned resourceId) const;  // null if not registered
    // Pops the menu up at the screen position; false if not registered.
    bool ShowPopupMenu(unsigned resourceId, const QPoint& globalPos);

private:
    CCommandManager& commands_;
    QWidget* window_;                   // not owned
    std::map<unsigned, QMenu*> menus_;  // children of the window
};
