#include "qvservice/model/store_pruner.h"
#include "qvservice/rpc/service_host.h"
#include "records/log.h"

#include <pthread.h>
#include <csignal>
#include <optional>
#include <thread>

namespace qv::server {

int RunServe(const ServeOptions& options) {
    for (const std::string& warning : CheckServeSecurity(options)) LogLine(warning);
    // Block the stop signals before gRPC starts its threads, so that only the
    // waiting thread below ever receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ServiceHost host(options);
    const std::string address = host.Start();
    LogLine("started, listening on " + address + ", store " + PrintableStoreName(options.storePath) +
            (options.allowed.empty() ? "" : ", " + std::to_string(options.allowed.size()) + " allowed caller(s)") +
            (options.tlsCertFile.empty() ? "" : ", TLS") +
            (options.clientCaFile.empty() ? "" : " with client certificates") +
            (options.recorderCaFile.empty() ? "" : ", recording"));

    std::optional<RetentionThread> retention;
    if (options.keepDays > 0) retention.emplace(options.storePath, options.keepDays);

    std::thread waiter([&] {
        int received = 0;
        sigwait(&stopSignals, &received);
        LogLine(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
        retention.reset();
        host.Shutdown();
    });
    host.Wait();
    waiter.join();
    LogLine("stopped");
    return 0;
}

}  // namespace qv::server
