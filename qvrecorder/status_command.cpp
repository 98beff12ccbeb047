#include "qvrecorder/commands.h"
#include "qvrecorder/local_client.h"
#include "qvrecorder/options.h"

#include <ctime>
#include <iostream>

namespace qv::recorder {

namespace {

std::string LocalTime(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string Age(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(0, ms / 1000);
    if (seconds < 120) return std::to_string(seconds) + " s";
    if (seconds < 7200) return std::to_string(seconds / 60) + " min";
    if (seconds < 172800) return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

std::string SessionLine(const quorvis::relay::v1::SessionInfo& session) {
    std::string line = "session " + session.user() + " pid " + std::to_string(session.pid()) + ": " + session.adapter();
    if (!session.counts_input()) {
        line += ", input not counted";
        if (session.adapter().starts_with("Wayland")) line += " (Wayland gives no way to count it)";
    }
    return line + "\n";
}

}  // namespace

int RunStatus(const std::vector<std::string>& args) {
    const std::string socket = ParseClientSocket(args);
    quorvis::relay::v1::StatusReply status;
    try {
        status = LocalClient(socket).Status();
    } catch (const RelayError& error) {
        std::cerr << "qvrecorder: " << error.what() << "\n";
        return kExitFailure;
    }
    std::cout << "computer " << status.computer() << "\n"
              << "server " << status.server() << "\n"
              << "connected " << (status.connected() ? "yes" : "no") << "\n"
              << "waiting " << status.waiting() << "\n"
              << "oldest " << (status.waiting() == 0 ? "-" : Age(status.now_ms() - status.oldest_spooled_ms()) + " ago")
              << "\n"
              << "set aside " << status.set_aside_batches() << " batches (" << status.set_aside_records()
              << " records)\n"
              << "spool " << status.spool_bytes() << " of " << status.spool_max_bytes() << " bytes\n"
              << "last error "
              << (status.last_error().empty() ? "-" : LocalTime(status.last_error_ms()) + " " + status.last_error())
              << "\n"
              << "sessions " << status.sessions_size() << "\n";
    for (const auto& session : status.sessions()) std::cout << SessionLine(session);
    return 0;
}

}  // namespace qv::recorder
