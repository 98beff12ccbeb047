#pragma once
// Kills a child process at a point counted in the bytes it has read and written (/proc/<pid>/io), so a kill
// lands at the same stage of an operation however fast the machine runs it.
#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace kill_point {

// rchar + wchar of a child that has not been reaped yet.
inline std::optional<std::uint64_t> IoBytes(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    std::uint64_t value = 0, total = 0;
    int found = 0;
    while (in >> key >> value)
        if (key == "rchar:" || key == "wchar:") total += value, ++found;
    return found == 2 ? std::optional(total) : std::nullopt;
}

enum class Outcome { Killed, EndedFirst, TimedOut };

// Sends SIGKILL once the child's I/O reaches `bytes`; the child stays unreaped. `observed` receives the largest
// count seen, which after EndedFirst is the whole run's.
inline Outcome KillAtIo(pid_t pid, std::uint64_t bytes, std::chrono::milliseconds limit,
                        std::uint64_t* observed = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::uint64_t seen = 0;
    Outcome outcome = Outcome::TimedOut;
    while (outcome == Outcome::TimedOut && std::chrono::steady_clock::now() < deadline) {
        siginfo_t info{};
        const bool ended =
            waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        if (const auto io = IoBytes(pid)) seen = std::max(seen, *io);
        if (ended)
            outcome = Outcome::EndedFirst;
        else if (seen >= bytes)
            ::kill(pid, SIGKILL), outcome = Outcome::Killed;
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (observed) *observed = seen;
    return outcome;
}

}  // namespace kill_point
