#include "ui/pane_tab_group.h"

#include "ui/dockable_pane.h"

#include <QMainWindow>

CPaneTabGroup::CPaneTabGroup(QMainWindow* window) : QObject(window), window_(window) {}

void CPaneTabGroup::Join(Qt::DockWidgetArea area, const QList<CDockablePane*>& panes) {
    for (CDockablePane* pane : panes) {
        if (panes_.isEmpty())
            window_->addDockWidget(area, pane);
        else
            window_->tabifyDockWidget(panes_.first(), pane);
        panes_.append(pane);
        connect(pane, &CDockablePane::BroughtToFront, this, &CPaneTabGroup::OnBroughtToFront);
    }
    if (!panes_.isEmpty()) panes_.last()->raise();
}

void CPaneTabGroup::OnBroughtToFront(CDockablePane* pane) {
    if (pane == front_) return;
    front_ = pane;
    emit ActiveTabChanged(pane);
}
