#include "tests/support/service_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace qv::test {

constexpr int kPollMs = 20;

static std::vector<std::string> Qvservice(const std::vector<std::string>& args) {
    std::vector<std::string> command{QVSERVICE_PATH};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

ToolResult RunQvservice(const std::vector<std::string>& args) { return RunProgram(Qvservice(args)); }

std::unique_ptr<ServiceProcess> Serve(const std::string& store, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"serve", "--store", store};
    if (std::find(extra.begin(), extra.end(), "--listen") == extra.end())
        args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ServiceProcess>(args);
}

std::unique_ptr<ServiceProcess> ServeRecording(const std::string& store, const std::string& certs,
                                               const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--tls-cert",    certs + "/test-server.pem",
                                  "--tls-key",     certs + "/test-server.key",
                                  "--recorder-ca", certs + "/test-recorder-ca.pem"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Serve(store, args);
}

ServiceProcess::ServiceProcess(const std::vector<std::string>& args) : BackgroundProcess(Qvservice(args)) {}

std::string ServiceProcess::WaitUntilListening(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    static const std::string kMark = "listening on ";
    while (std::chrono::steady_clock::now() < deadline) {
        if (const std::size_t at = log_.find(kMark); at != std::string::npos) {
            const std::size_t end = log_.find_first_of(",\n", at);
            if (end != std::string::npos) return log_.substr(at + kMark.size(), end - at - kMark.size());
        }
        if (!ReadLog(kPollMs)) return {};
    }
    return {};
}

std::string ServiceProcess::ListeningAddress() {
    std::string address = WaitUntilListening();
    if (address.empty()) throw std::runtime_error("qvservice does not listen: " + log_);
    return address;
}

}  // namespace qv::test
