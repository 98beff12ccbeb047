// qvrecorder: the relay on a monitored computer (daemon), and its local
// clients (send, status, and the session recorder).
#include "qvrecorder/commands.h"
#include "qvrecorder/options.h"

#include <iostream>

namespace {

using namespace qv::recorder;

const char* const kUsage =
    "usage:\n"
    "  qvrecorder daemon [--config FILE] [--server HOST:PORT] [--tls-ca FILE] [--tls-cert FILE]\n"
    "                    [--tls-key FILE] [--spool DIR] [--socket PATH] [--user-prefix TEXT]\n"
    "                    [--retry-max SECONDS] [--spool-max-bytes N[K|M|G]]\n"
    "      the relay: takes records from local programs on the socket, keeps them in the\n"
    "      spool and forwards them to the Quorvis Service; its settings come from\n"
    "      /etc/qvrecorder.conf (or --config FILE) and the command line, which wins\n"
    "  qvrecorder send [--socket PATH] < RECORDS.csv\n"
    "      hands records in the import format to the daemon\n"
    "  qvrecorder status [--socket PATH]\n"
    "      tells whether the daemon reaches the service and how many records wait\n"
    "  qvrecorder session [--socket PATH] [--idle SECONDS] [--record-max SECONDS]\n"
    "      records the graphical session it runs in: the window in front, for how long,\n"
    "      and how many keyboard and mouse events it had (counts, never what was typed);\n"
    "      away after --idle seconds without input (180), records at most --record-max\n"
    "      seconds long (60)\n"
    "  qvrecorder --help | --version\n"
    "The socket is /run/qvrecorder/socket unless told otherwise. See qvrecorder(1).\n";

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : argc), argv + argc);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "--help" || command == "-h" || command == "help" || WantsHelp(args)) {
            std::cout << kUsage;
            return 0;
        }
        if (command == "--version") {
            std::cout << "qvrecorder " << QVVIEWER_VERSION << "\n";
            return 0;
        }
        if (command == "daemon") return RunDaemon(args);
        if (command == "send") return RunSend(args);
        if (command == "status") return RunStatus(args);
        if (command == "session") return RunSession(args);
        throw UsageError(command.empty() ? "no command" : "unknown command " + command);
    } catch (const UsageError& error) {
        std::cerr << "qvrecorder: " << error.what() << "\n" << kUsage;
        return kExitUsage;
    } catch (const SettingsError& error) {
        // Like a wrong command line, a wrong file will not mend itself: the unit does not restart on it.
        std::cerr << "qvrecorder: " << error.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "qvrecorder: " << error.what() << "\n";
        return kExitFailure;
    }
}
