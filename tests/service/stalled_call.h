#pragma once
// A service call that stalls as one to a hung server does, through the viewer's call waiter, until it is released, the
// viewer abandons its calls, or its deadline passes; then it fails as an elapsed deadline does.
#include "platform/hresult.h"
#include "service/ui_call_waiter.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace qv::test {

struct StalledCall {
    // Runs on the GUI thread inside the wait.
    std::function<void()> duringWait;
    std::shared_ptr<std::atomic<bool>> released = std::make_shared<std::atomic<bool>>(false);
    // Set when only the deadline ended the call: the wait proved nothing.
    std::shared_ptr<std::atomic<bool>> timedOut = std::make_shared<std::atomic<bool>>(false);

    HRESULT operator()() const {
        if (duringWait) QTimer::singleShot(0, duringWait);
        std::future<void> waited = std::async(std::launch::async, [released = released, timedOut = timedOut] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!*released && !ServiceCallsAbandoned()) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    *timedOut = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        WaitWithEventLoop(waited);
        return HRESULT_RPC_S_SERVER_UNAVAILABLE;
    }
};

}  // namespace qv::test
