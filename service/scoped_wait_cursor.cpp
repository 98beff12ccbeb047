#include "service/scoped_wait_cursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>

namespace {

bool OnGuiThread() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

ScopedWaitCursor::ScopedWaitCursor() : shown_(OnGuiThread()) {
    if (shown_) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

ScopedWaitCursor::~ScopedWaitCursor() {
    if (shown_) QGuiApplication::restoreOverrideCursor();
}
