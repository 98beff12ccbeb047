#pragma once
// CDockablePane: a docking pane of the main window. It carries the pane's
// control id and an objectName made from it, so that the window layout saved
// by QMainWindow::saveState finds the pane again on restore.
#include <QDockWidget>

class CDockablePane : public QDockWidget {
    Q_OBJECT
public:
    CDockablePane(int paneId, const QString& title, QWidget* parent = nullptr);

    int PaneId() const { return paneId_; }
    static QString ObjectNameFor(int paneId);

    // Brings the pane to the front of its tab group (or shows it when hidden).
    void BringToFront();

signals:
    // The pane became the visible one of its tab group (or was shown alone).
    void BroughtToFront(CDockablePane* pane);

private:
    int paneId_;
};
