#pragma once
// The Customize dialog for toolbars and keys: commands put on or taken off
// toolbars, user-defined toolbars made, renamed and deleted, keys assigned.
// Changes take effect at once; the workspace keeps them.
#include <QDialog>

class CCommandManager;
class CToolbarManager;
class QTabWidget;

class CCustomizeDialog : public QDialog {
    Q_OBJECT
public:
    CCustomizeDialog(CCommandManager& commands, CToolbarManager& toolbars, QWidget* parent = nullptr);

    QTabWidget* Tabs() const { return tabs_; }

private:
    QTabWidget* tabs_;
};

// The pages, one file each.
QWidget* CreateCommandsPage(CCommandManager& commands, CToolbarManager& toolbars, QWidget* parent);
QWidget* CreateToolbarsPage(CToolbarManager& toolbars, QWidget* parent);
QWidget* CreateKeyboardPage(CCommandManager& commands, QWidget* parent);
