#include "platform/hive_store.h"

#include "platform/hive_save_files.h"
#include "platform/hive_text.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace {

// A settings hive is a few kilobytes; anything this large is not one.
constexpr off_t kMaxHiveBytes = 64 * 1024 * 1024;
constexpr mode_t kNewDirMode = 0700;
constexpr int kMaxSetAsideAttempts = 100;

std::string ErrnoText(int err) { return std::error_code(err, std::generic_category()).message(); }

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeDir() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir) return found->pw_dir;
    return ".";
}

std::string DirName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads the whole file; errno-style code on failure (ENOENT: no file).
int ReadFile(const std::string& path, std::string& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EISDIR;
    else if (st.st_size > kMaxHiveBytes)
        err = EFBIG;
    char buf[65536];
    while (err == 0) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            err = errno;
        else if (n == 0)
            break;
        else
            out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return err;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the renames and new entries in dir survive a crash; errno on failure.
int SyncDir(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

bool MakeDirs(const std::string& dir) {
    if (dir.empty() || dir == "/" || dir == ".") return true;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!MakeDirs(DirName(dir))) return false;
    if (::mkdir(dir.c_str(), kNewDirMode) != 0) return errno == EEXIST;
    // A hive saved into a folder that a crash forgets would be lost with it.
    const int err = SyncDir(DirName(dir));
    errno = err;
    return err == 0;
}

// Renames without replacing an existing file.
bool RenameNoReplace(const std::string& from, const std::string& to, int& err) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    err = errno;
    if (err != EINVAL && err != ENOSYS) return false;
    // File systems without the flag: a hard link refuses an existing name.
    if (::link(from.c_str(), to.c_str()) != 0) {
        err = errno;
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

// Serialises the read-merge-write of programs that share one hive: an
// advisory lock on the hive's directory, which unlike the file itself is
// not replaced by the save. Where locking is unsupported saves go unlocked.
class DirectoryLock {
public:
    explicit DirectoryLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
    }
    ~DirectoryLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

private:
    int fd_;
};

}  // namespace

std::string DefaultHivePath() {
    std::string named = Env("QVVIEWER_HIVE");
    if (!named.empty()) return named;
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/')  // relative values are to be ignored
        config = HomeDir() + "/.config";
    return config + "/qvviewer/user.reg";
}

HiveStore::HiveStore(std::string path) : path_(std::move(path)), rename_(::rename) {}

HiveStore::LoadResult HiveStore::Load() {
    tree_ = HiveTree();
    setAsidePath_.clear();
    std::string text;
    int err = ReadFile(path_, text);
    if (err == ENOENT) return LoadResult::Missing;
    if (err != 0) return SetAside("cannot be read (" + ErrnoText(err) + ")");
    std::string error;
    if (!ParseHiveText(text, tree_, error)) {
        tree_ = HiveTree();
        return SetAside("is corrupt (" + error + ")");
    }
    return LoadResult::Loaded;
}

HiveStore::LoadResult HiveStore::SetAside(const std::string& reason) {
    std::string base = path_ + ".corrupt-" + std::to_string(std::time(nullptr));
    int err = 0;
    for (int attempt = 1; attempt <= kMaxSetAsideAttempts && (err == 0 || err == EEXIST); ++attempt) {
        std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (RenameNoReplace(path_, target, err)) {
            setAsidePath_ = target;
            std::fprintf(stderr, "qvviewer: the settings file %s %s; set aside as %s, starting with empty settings\n",
                         path_.c_str(), reason.c_str(), target.c_str());
            return LoadResult::SetAside;
        }
    }
    std::fprintf(stderr,
                 "qvviewer: the settings file %s %s and could not be set aside (%s); settings are not saved over it\n",
                 path_.c_str(), reason.c_str(), ErrnoText(err).c_str());
    return LoadResult::Blocked;
}

bool HiveStore::MergeWithFile(std::string& problem) {
    std::string text;
    int err = ReadFile(path_, text);
    if (err == ENOENT) return true;
    std::string reason;
    if (err == 0) {
        HiveTree onDisk;
        if (ParseHiveText(text, onDisk, reason)) {
            tree_.MergeFromFile(onDisk);
            return true;
        }
        reason = "is corrupt (" + reason + ")";
    } else {
        reason = "cannot be read (" + ErrnoText(err) + ")";
    }
    // This hive replaces it, and it is kept beside.
    if (SetAside(reason) == LoadResult::SetAside) return true;
    problem = "the settings file " + path_ + " " + reason + " and could not be set aside";
    return false;
}

bool HiveStore::Save(std::string* error) {
    auto fail = [&](const std::string& what, int err) {
        if (error) *error = what + (err ? ": " + ErrnoText(err) : "");
        return false;
    };
    const std::string namedDir = DirName(path_);
    if (!MakeDirs(namedDir)) return fail("cannot create the directory " + namedDir, errno);
    DirectoryLock lock(namedDir);
    std::string problem;
    if (!MergeWithFile(problem)) return fail(problem, 0);
    // Through a symbolic link the link's target is replaced, not the link.
    std::string target = path_;
    if (char* real = ::realpath(path_.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    std::string dir = DirName(target);
    if (!MakeDirs(dir)) return fail("cannot create the directory " + dir, errno);
    RemoveStaleHiveSaveFiles(dir);
    std::string temp = dir + "/" + kHiveSaveFilePattern;
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail("cannot create a file in " + dir, errno);
    // Held while the file is written: marks it as a save in progress.
    ::flock(fd, LOCK_EX);
    // Keep the old file's permissions; a new file stays private to the user.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    int err = 0;
    errno = 0;
    if (!WriteAll(fd, FormatHiveText(tree_)) || ::fsync(fd) != 0) err = errno ? errno : EIO;
    if (::close(fd) != 0 && err == 0) err = errno;
    errno = 0;
    if (err == 0 && rename_(temp.c_str(), target.c_str()) != 0) err = errno ? errno : EIO;
    if (err != 0) {
        ::unlink(temp.c_str());
        return fail("cannot write " + target, err);
    }
    // The file now holds every change; later saves merge only newer ones.
    tree_.ClearChanges();
    err = SyncDir(dir);
    return err == 0 ? true : fail("written, but the directory " + dir + " could not be flushed", err);
}
