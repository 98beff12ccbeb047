#pragma once
// Sees every fsync of the test program; defines fsync itself, so include it in one source file of a program only.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>

namespace qv::test {

// While it lives, its callback hears the path of each file or folder synced, as it is synced.
class FsyncWatch {
public:
    explicit FsyncWatch(std::function<void(const std::string& path)> callback) { Set(std::move(callback)); }
    ~FsyncWatch() { Set(nullptr); }
    FsyncWatch(const FsyncWatch&) = delete;

    static void Synced(int fd) {
        const std::lock_guard lock(mutex_);
        if (!callback_) return;
        char path[PATH_MAX];
        const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
        if (length > 0) callback_(std::string(path, static_cast<std::size_t>(length)));
    }

private:
    static void Set(std::function<void(const std::string&)> callback) {
        const std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }
    static inline std::mutex mutex_;
    static inline std::function<void(const std::string&)> callback_;
};

}  // namespace qv::test

extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    qv::test::FsyncWatch::Synced(fd);
    return real(fd);
}
