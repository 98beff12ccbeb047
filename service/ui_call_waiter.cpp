#include "ui_call_waiter.h"

#include "remote_activation.h"
#include "scoped_wait_cursor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>

#include <thread>

void WaitWithEventLoop(std::future<void>& answer) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() ||
        answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        answer.wait();
        return;
    }
    ScopedWaitCursor wait;
    QEventLoop loop;
    // The answer arrives on a worker thread; a watcher turns it into a queued
    // quit, which the loop handles even when it comes before exec().
    std::thread watcher([&answer, &loop] {
        answer.wait();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    watcher.join();
}

void InstallUiCallWaiter() { SetCallWaiter(WaitWithEventLoop); }

void RemoveUiCallWaiter() { SetCallWaiter({}); }
