#pragma once
// The window's toolbars as the user may change them: the standard toolbar
// with its default buttons, and up to ten user-defined toolbars. A toolbar's
// buttons are command ids (0 a separator) of the command manager's actions.
#include <QList>
#include <QObject>
#include <QString>

#include <array>

class CCommandManager;
class HiveKey;
class QMainWindow;
class QToolBar;

class CToolbarManager : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxUserToolbars = 10;
    static constexpr int kSeparator = 0;

    CToolbarManager(QMainWindow* window, CCommandManager& commands);

    // The standard toolbar, docked at the top.
    QToolBar* CreateStandard(const QString& objectName, const QString& title, const QList<int>& buttons);
    QToolBar* Standard() const { return standard_; }

    // Index 0-9; null when that toolbar is not defined.
    QToolBar* UserToolbar(int index) const;
    int UserIndex(const QToolBar* toolbar) const;  // -1: not user-defined
    // In the first free place; null when all ten are defined.
    QToolBar* CreateUserToolbar(const QString& name);
    bool DeleteUserToolbar(int index);
    bool RenameUserToolbar(int index, const QString& name);
    QList<QToolBar*> Toolbars() const;  // standard first, then user-defined ones

    QList<int> Buttons(const QToolBar* toolbar) const;
    void SetButtons(QToolBar* toolbar, const QList<int>& buttons);
    // The standard toolbar gets its default buttons back.
    void ResetStandard();

    void Save(HiveKey& key) const;
    // Unknown command ids are dropped; user-defined toolbars defined before
    // are replaced by the stored ones.
    void Load(const HiveKey& key);

    static QString UserObjectName(int index);

signals:
    void ToolbarsChanged();

private:
    QToolBar* MakeToolbar(const QString& objectName, const QString& title);
    QToolBar* CreateUserToolbarAt(int index, const QString& name);

    QMainWindow* window_;        // not owned
    CCommandManager& commands_;  // not owned
    QToolBar* standard_ = nullptr;
    QList<int> standardDefault_;
    std::array<QToolBar*, kMaxUserToolbars> user_{};  // children of the window
};
