#include "app/message_box_handler.h"

#include "resources/app_resources.h"
#include "resources/resource_ids.h"

#include <QApplication>
#include <QCursor>

QMessageBox::Icon MessageBoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Exclamation: return QMessageBox::Warning;
        case MessageIcon::Error: return QMessageBox::Critical;
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

void InstallMessageBoxHandler() {
    SetMessageHandler([](const QString& text, MessageIcon icon, int buttons) {
        const auto standard =
            buttons == 0 ? QMessageBox::StandardButtons(QMessageBox::Ok) : QMessageBox::StandardButtons(buttons);
        QMessageBox box(MessageBoxIcon(icon), LoadResString(kIdsAppTitle), text, standard,
                        QApplication::activeWindow());
        // A message shown during a long step (the wait cursor is up) still
        // gets the ordinary pointer.
        const bool waiting = QApplication::overrideCursor() != nullptr;
        if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
        const int answer = box.exec();
        if (waiting) QApplication::restoreOverrideCursor();
        return answer;
    });
}
