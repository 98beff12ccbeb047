#include "service/ui_call_waiter.h"

#include "platform/remote_activation.h"
#include "service/scoped_wait_cursor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>

#include <atomic>
#include <thread>
#include <utility>

namespace {

// All but the abandonment and the purpose are touched on the GUI thread only.
WaitNotice waitNotice;
// Each thread's own: calls made off the GUI thread (a load benchmark's
// viewers) must not share it.
thread_local QString currentPurpose;
int pendingWaits = 0;
std::atomic<bool> abandoned{false};

QString WaitNoticeText(const QString& purpose) {
    return purpose.isEmpty() ? QStringLiteral("Waiting for the Quorvis Service...")
                             : QStringLiteral("Waiting for the Quorvis Service: %1...").arg(purpose);
}

// Tells the notice for the life of one wait.
class NoticeShown {
public:
    NoticeShown() {
        if (waitNotice) waitNotice(WaitNoticeText(currentPurpose));
    }
    ~NoticeShown() {
        if (waitNotice) waitNotice({});
    }
    NoticeShown(const NoticeShown&) = delete;
    NoticeShown& operator=(const NoticeShown&) = delete;
};

}  // namespace

void WaitWithEventLoop(std::future<void>& answer) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread() ||
        answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        answer.wait();
        return;
    }
    ScopedWaitCursor wait;
    const NoticeShown notice;
    QEventLoop loop;
    // The answer arrives on a worker thread; a watcher turns it into a queued
    // quit, which the loop handles even when it comes before exec().
    std::thread watcher([&answer, &loop] {
        answer.wait();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    ++pendingWaits;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --pendingWaits;
    // Only the application's quit ends the loop before the answer is there.
    if (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready) AbandonServiceCalls();
    watcher.join();
}

void InstallUiCallWaiter() {
    abandoned = false;
    SetCallWaiter(WaitWithEventLoop);
}

void RemoveUiCallWaiter() { SetCallWaiter({}); }

void SetWaitNotice(WaitNotice notice) { waitNotice = std::move(notice); }

ScopedCallPurpose::ScopedCallPurpose(QString purpose) : previous_(std::exchange(currentPurpose, std::move(purpose))) {}

ScopedCallPurpose::~ScopedCallPurpose() { currentPurpose = std::move(previous_); }

bool ServiceCallPending() { return pendingWaits > 0; }

void AbandonServiceCalls() { abandoned = true; }

bool ServiceCallsAbandoned() { return abandoned; }
