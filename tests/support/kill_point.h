#pragma once
// Kills a child process at a point counted in the bytes it has read and written (/proc/<pid>/io). The child is
// traced and held at each of its system calls while the count is read, so a kill lands at the same call however
// fast the machine runs the child and however late the test itself is scheduled.
#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kill_point {

// rchar + wchar of a child that has not been reaped yet, read through an open /proc/<pid>/io.
inline std::optional<std::uint64_t> IoBytesAt(int ioFile) {
    char text[512];
    const ssize_t size = pread(ioFile, text, sizeof text - 1, 0);
    if (size <= 0) return std::nullopt;
    text[size] = '\0';
    unsigned long long read = 0, written = 0;
    if (std::sscanf(text, "rchar: %llu wchar: %llu", &read, &written) != 2) return std::nullopt;
    return read + written;
}

inline std::optional<std::uint64_t> IoBytes(pid_t pid) {
    const int ioFile = open(("/proc/" + std::to_string(pid) + "/io").c_str(), O_RDONLY | O_CLOEXEC);
    if (ioFile < 0) return std::nullopt;
    const auto bytes = IoBytesAt(ioFile);
    close(ioFile);
    return bytes;
}

// TimedOut also when the child cannot be traced; a child still running at the limit is killed.
enum class Outcome { Killed, EndedFirst, TimedOut };

// Sends SIGKILL once the child's I/O reaches `bytes`; the child stays unreaped. Only the thread that started the
// child waits for it meanwhile (this one). `observed` receives the largest count seen, which after EndedFirst is
// the whole run's. A traced child cannot run LeakSanitizer at its exit: start it with LSAN_OPTIONS=detect_leaks=0.
inline Outcome KillAtIo(pid_t pid, std::uint64_t bytes, std::chrono::milliseconds limit,
                        std::uint64_t* observed = nullptr) {
    const int ioFile = open(("/proc/" + std::to_string(pid) + "/io").c_str(), O_RDONLY | O_CLOEXEC);
    if (ioFile < 0 || ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0 ||
        ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr) != 0) {
        if (ioFile >= 0) close(ioFile);
        return Outcome::TimedOut;
    }
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false, timedOut = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, limit, [&] { return finished; })) timedOut = true, ::kill(pid, SIGKILL);
    });

    std::uint64_t seen = 0;
    bool killed = false;
    for (;;) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WSTOPPED | WNOWAIT) != 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (info.si_code == CLD_EXITED || info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) break;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) break;  // takes the stop just seen
        if (const auto io = IoBytesAt(ioFile)) seen = std::max(seen, *io);
        if (!killed && seen >= bytes) {
            ::kill(pid, SIGKILL), killed = true;  // held at this call, it runs no further
            continue;
        }
        // A signal sent to the child is passed on; the stops of the tracing itself are not signals.
        const bool signalStop = (status >> 16) == 0 && WSTOPSIG(status) != (SIGTRAP | 0x80);
        ptrace(PTRACE_SYSCALL, pid, nullptr, signalStop ? WSTOPSIG(status) : 0);
    }
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    wake.notify_one();
    watchdog.join();
    close(ioFile);
    if (observed) *observed = seen;
    return timedOut ? Outcome::TimedOut : killed ? Outcome::Killed : Outcome::EndedFirst;
}

}  // namespace kill_point
