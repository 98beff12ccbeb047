#pragma once
// The window's workspace kept in the profile: the docking and toolbar layout
// (QMainWindow::saveState), the window geometry, the user's toolbars and
// keys. Stored state that does not fit (another version, damaged bytes) is
// ignored and the window keeps its built-in layout.
class CCommandManager;
class CToolbarManager;
class HiveStore;
class QMainWindow;

class CWorkspaceState {
public:
    static constexpr int kLayoutVersion = 1;

    CWorkspaceState(HiveStore* hive, QMainWindow& window, CCommandManager& commands, CToolbarManager& toolbars);

    // Into the hive in memory; then writes the hive file. False when there
    // is no hive or the file could not be written.
    bool Save();
    // Toolbars and keys first (restoring the layout needs the user-defined
    // toolbars to exist), then layout and geometry. False when no layout
    // was stored or it did not fit.
    bool Restore();

private:
    HiveStore* hive_;            // not owned; may be null
    QMainWindow& window_;        // not owned
    CCommandManager& commands_;  // not owned
    CToolbarManager& toolbars_;  // not owned
};
