#pragma once
// The window's commands by id: one QAction each, shared by menus, toolbars
// and keys, with a category for the Customize dialog and the keys the user
// assigned in place of the default ones.
#include <QAction>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class HiveKey;

class CCommandManager : public QObject {
    Q_OBJECT
public:
    using Keys = QList<QKeySequence>;

    // The actions are added to the window so that their keys work anywhere
    // in it.
    explicit CCommandManager(QWidget* window);
    ~CCommandManager() override;

    // Text as in a menu ("&Find\tCtrl+F": the part after the tab is shown
    // but binds nothing).
    QAction* Add(int id, const QString& category, const QString& text, std::function<void()> handler,
                 const Keys& keys = {});
    QAction* Action(int id) const;
    int IdOf(const QAction* action) const;  // 0 when not a command
    QList<int> Ids() const;                 // in the order added

    QString Category(int id) const;
    QStringList Categories() const;  // in the order first used
    QList<int> CommandsIn(const QString& category) const;
    // The text without mnemonics, key text and trailing dots.
    QString DisplayText(int id) const;

    // Runs the command if it exists and is enabled.
    bool Execute(int id);

    Keys DefaultKeys(int id) const;
    Keys CurrentKeys(int id) const;
    // A key taken by another command is taken away from it.
    void SetKeys(int id, const Keys& keys);
    void ResetKeys();
    int CommandForKey(const QKeySequence& key) const;  // 0: none

    // Keys that differ from the defaults, as values named by command id.
    void SaveKeys(HiveKey& key) const;
    // Unknown ids and unreadable key texts are skipped.
    void LoadKeys(const HiveKey& key);

signals:
    void KeysChanged();

private:
    struct Command {
        int id;
        QString category;
        QAction* action;  // owned by the window
        Keys defaultKeys;
        QString text;  // as added
    };
    const Command* Find(int id) const;
    // The key shown in the menu follows the keys the user assigned.
    static void UpdateKeyText(const Command& command);

    QWidget* window_;  // not owned
    std::vector<Command> commands_;
    std::map<int, std::size_t> index_;
};
