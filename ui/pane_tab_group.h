#pragma once
// Docking panes joined as one tab group of a main window. The group reports
// each change of its front pane once, however often Qt repeats the
// visibility signals behind it (window shown, layout restored).
#include <QList>
#include <QObject>

class CDockablePane;
class QMainWindow;

class CPaneTabGroup : public QObject {
    Q_OBJECT
public:
    explicit CPaneTabGroup(QMainWindow* window);

    // Docks the first pane in the area and every other one as a further tab
    // of it; the last one joined is in front.
    void Join(Qt::DockWidgetArea area, const QList<CDockablePane*>& panes);
    const QList<CDockablePane*>& Panes() const { return panes_; }
    // The pane last reported in front; null before the first report.
    CDockablePane* FrontPane() const { return front_; }

signals:
    void ActiveTabChanged(CDockablePane* pane);

private:
    void OnBroughtToFront(CDockablePane* pane);

    QMainWindow* window_;          // not owned: the parent
    QList<CDockablePane*> panes_;  // not owned
    CDockablePane* front_ = nullptr;
};
