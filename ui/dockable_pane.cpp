#include "ui/dockable_pane.h"

CDockablePane::CDockablePane(int paneId, const QString& title, QWidget* parent)
    : QDockWidget(title, parent), paneId_(paneId) {
    setObjectName(ObjectNameFor(paneId));
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible) emit BroughtToFront(this);
    });
}

QString CDockablePane::ObjectNameFor(int paneId) { return QStringLiteral("Pane%1").arg(paneId); }

void CDockablePane::BringToFront() {
    if (isHidden()) show();
    raise();
}
