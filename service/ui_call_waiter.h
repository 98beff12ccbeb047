#pragma once
// How a blocking service call waits on the viewer's GUI thread: in a local
// event loop that leaves user input queued, so paint and timer events keep
// flowing (the frozen tree picture and the hourglass stay drawn) while the
// operator cannot start anything new. The wait cursor shows meanwhile. Calls
// from other threads, or without a GUI, simply block. Every call has its
// own deadline, so the loop always ends.
#include <future>

void WaitWithEventLoop(std::future<void>& answer);

// Installs WaitWithEventLoop as the platform's call waiter, or the default.
void InstallUiCallWaiter();
void RemoveUiCallWaiter();
