#pragma once
// Sees every fsync of the test program: include in one source file of a test
// program only, since it defines fsync itself (and then calls libc's).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>

namespace qv::test {

// While it lives, its callback hears the path of each file or folder synced,
// as it is synced.
class FsyncWatch {
public:
    using Callback = std::function<void(const std::string& path)>;
    explicit FsyncWatch(Callback callback) { Set(std::move(callback)); }
    ~FsyncWatch() { Set(nullptr); }
    FsyncWatch(const FsyncWatch&) = delete;
    FsyncWatch& operator=(const FsyncWatch&) = delete;

    static void Synced(int fd) {
        const std::lock_guard lock(Mutex());
        if (!Current()) return;
        char path[PATH_MAX];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
        if (length > 0) Current()(std::string(path, static_cast<std::size_t>(length)));
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static Callback& Current() {
        static Callback callback;
        return callback;
    }
    static void Set(Callback callback) {
        const std::lock_guard lock(Mutex());
        Current() = std::move(callback);
    }
};

}  // namespace qv::test

extern "C" int fsync(int fd) {
    using Real = int (*)(int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "fsync"));
    qv::test::FsyncWatch::Synced(fd);
    return real(fd);
}
