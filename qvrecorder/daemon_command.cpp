#include "qvrecorder/commands.h"
#include "qvrecorder/daemon.h"
#include "qvrecorder/daemon_memory.h"
#include "records/log.h"

#include <sys/stat.h>

#include <csignal>
#include <cstring>

namespace qv::recorder {

int RunDaemon(const std::vector<std::string>& args) {
    TuneDaemonMalloc();
    // What the dynamic linker and static initialisers touched.
    DropFilePages();
    const DaemonOptions options = ParseDaemonOptions(args);
    // Blocked before any thread starts, so that every thread inherits the
    // mask and only sigwait below sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The spool holds window titles: its files are the daemon's user's alone.
    ::umask(077);
    try {
        Daemon daemon(options);
        // What gRPC's and OpenSSL's start touched.
        DropFilePages();
        LogLine("listening on " + options.socket + " for the computer " + daemon.Computer() + "; forwarding to " +
                options.server + " from the spool " + options.spool + " (" + std::to_string(daemon.Waiting()) +
                " records waiting)");
        int signal = 0;
        while (sigwait(&stop, &signal) != 0) {}
        LogLine(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT"));
    } catch (const std::exception& error) {
        LogLine(std::string("cannot run: ") + error.what());
        return kExitFailure;
    }
    LogLine("stopped");
    return 0;
}

}  // namespace qv::recorder
