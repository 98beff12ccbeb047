#pragma once
// How a blocking service call waits on the viewer's GUI thread: in a local
// event loop that leaves user input queued, so paint and timer events keep
// flowing (the frozen tree picture and the hourglass stay drawn) while the
// operator cannot start anything new. The wait cursor shows meanwhile, and
// the frame's status bar says what is being waited for. Calls from other
// threads, or without a GUI, simply block. Every call has its own deadline,
// so the loop always ends.
//
// When the viewer closes during a wait (its window closed, or the
// application told to quit, which ends every loop of the thread), the wait
// still lasts until the call returns or its deadline passes, but its answer
// is dropped and no further call is made: the viewer then exits.
#include <QString>

#include <functional>
#include <future>

void WaitWithEventLoop(std::future<void>& answer);

// Installs WaitWithEventLoop as the platform's call waiter, or the default.
// Installing also ends an earlier abandonment: a new document calls again.
void InstallUiCallWaiter();
void RemoveUiCallWaiter();

// Told the text of each wait on the GUI thread as it begins, and an empty
// text when it ends. An empty notice shows nothing.
using WaitNotice = std::function<void(const QString& text)>;
void SetWaitNotice(WaitNotice notice);

// Names, in the operator's words, what the calls made during its life wait
// for ("information on program 7"). Nests; GUI thread only.
class ScopedCallPurpose {
public:
    explicit ScopedCallPurpose(QString purpose);
    ~ScopedCallPurpose();
    ScopedCallPurpose(const ScopedCallPurpose&) = delete;
    ScopedCallPurpose& operator=(const ScopedCallPurpose&) = delete;

private:
    QString previous_;
};

// Whether the GUI thread is waiting for a call's answer right now.
bool ServiceCallPending();
// The viewer is closing: answers still pending are dropped, no call is made.
void AbandonServiceCalls();
bool ServiceCallsAbandoned();
