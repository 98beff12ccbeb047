// The session recorder's cost: qvrecorder session on Xvfb and openbox while
// xdotool brings another window to the front every second and presses 20
// keys a second; a stand-in relay answers every message. Prints the
// recorder's CPU time as a share of one core and its peak resident memory.
//   recorder_footprint [--seconds N]   (600 unless told)
#include "qvrecorder/local_client.h"
#include "qvrecorder/relay_protocol.h"
#include "tests/support/background_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x_session.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace qv;
using namespace qv::recorder;
using Clock = std::chrono::steady_clock;

// Takes every message and answers each as the daemon would, without a spool.
void Relay(int listener, std::atomic<long>& records) {
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::thread([fd, &records] {
            try {
                quorvis::relay::v1::RelayRequest request;
                while (ReadMessage(fd, request)) {
                    records += request.send().records_size();
                    quorvis::relay::v1::RelayReply reply;
                    reply.mutable_send()->set_taken(static_cast<std::uint32_t>(request.send().records_size()));
                    WriteMessage(fd, reply);
                }
            } catch (const std::exception&) {}
            ::close(fd);
        }).detach();
    }
}

// utime + stime in seconds, and VmHWM in kB.
std::pair<double, long> Usage(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) ticks += std::stod(field);
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    long hwm = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) hwm = std::stol(line.substr(6));
    }
    return {ticks / static_cast<double>(::sysconf(_SC_CLK_TCK)), hwm};
}

int Run(int seconds) {
    if (const auto missing = test::XSession::MissingProgram()) {
        std::fprintf(stderr, "recorder_footprint: %s is not installed\n", missing->c_str());
        return 1;
    }
    const TempDir dir;
    const std::string socketPath = dir.File("socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = UnixAddress(socketPath);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0) {
        std::perror("recorder_footprint: the stand-in relay");
        return 1;
    }
    std::atomic<long> records{0};
    std::thread(Relay, listener, std::ref(records)).detach();

    test::XSession x;
    std::vector<std::unique_ptr<test::BackgroundProcess>> windows;
    std::vector<std::string> ids;
    for (const char* title : {"footprint-one", "footprint-two"}) {
        windows.push_back(std::make_unique<test::BackgroundProcess>(
            std::vector<std::string>{"xlogo", "-geometry", "300x200+0+0", "-title", title}));
        ids.push_back(x.WaitForWindow(title));
    }
    x.Xdotool({"mousemove", "100", "100"});
    test::BackgroundProcess session({QVRECORDER_PATH, "session", "--socket", socketPath});
    if (!session.WaitForLog("recording the session")) {
        std::fprintf(stderr, "recorder_footprint: the recorder did not start:\n%s", session.Log().c_str());
        return 1;
    }
    const auto [cpuBefore, ignored] = Usage(session.Pid());
    const auto start = Clock::now();
    std::vector<std::string> keys;
    // No "q": it ends xlogo.
    for (const char key : std::string("abcdefghijklmnoprstu")) keys.push_back(std::string(1, key));
    for (int second = 0; second < seconds; ++second) {
        // One xdotool a second: the window, then 20 keys 40 ms apart.
        std::vector<std::string> command{"windowactivate", "--sync", ids[second % 2], "key", "--delay", "40"};
        command.insert(command.end(), keys.begin(), keys.end());
        x.Xdotool(command);
        std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const auto [cpuAfter, hwmKb] = Usage(session.Pid());
    session.Stop(SIGTERM);
    std::printf("seconds %.0f\nrecords %ld\ncpu %.3f %% of one core\npeak resident %.1f MB\n", wall, records.load(),
                100.0 * (cpuAfter - cpuBefore) / wall, static_cast<double>(hwmKb) / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--seconds") seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    // Caught here, so that the display and its clients are ended on the way out.
    try {
        return Run(seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "recorder_footprint: %s\n", error.what());
        return 1;
    }
}
