// qvservice run by the tests: a one-shot command, or the service in the background, watched through its stderr.
#pragma once

#include "tests/support/background_process.h"

#include <sys/types.h>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace qv::test {

// Runs qvservice with the arguments and waits for it to end.
ToolResult RunQvservice(const std::vector<std::string>& args);

class ServiceProcess : public BackgroundProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& args);

    // The address the service announces, once it listens; empty when it ends or stays silent for the whole limit.
    std::string WaitUntilListening(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // The same, but throws with the service's log when it never listens.
    std::string ListeningAddress();
};

// `qvservice serve` on the store and a free loopback port; ListeningAddress() tells its address.
std::unique_ptr<ServiceProcess> Serve(const std::string& store, const std::vector<std::string>& extra = {});
// The same with recording on: TLS with the test server's certificate, and
// recorders' certificates from the test recorder CA (certs: CopyTestCertificates).
std::unique_ptr<ServiceProcess> ServeRecording(const std::string& store, const std::string& certs,
                                               const std::vector<std::string>& extra = {});

}  // namespace qv::test
