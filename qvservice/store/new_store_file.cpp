#include "qvservice/store/new_store_file.h"

#include "qvservice/store/store_database.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

namespace qv::server {

void RemoveStoreFiles(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix, ignored);
}

namespace {

constexpr std::string_view kBuildingInfix = ".new-";

std::filesystem::path FolderOf(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? "." : folder;
}

// A killed build leaves "<store>.new-PID" (and SQLite's files beside it),
// full of personal data: removed once no process has that id.
void RemoveLeftovers(const std::string& path) {
    const std::string prefix = std::filesystem::path(path).filename().string() + std::string(kBuildingInfix);
    std::error_code error;
    for (std::filesystem::directory_iterator entry(FolderOf(path), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const std::size_t digits = name.find_first_not_of("0123456789", prefix.size());
        const std::string_view suffix = digits == std::string::npos ? "" : std::string_view(name).substr(digits);
        if (digits == prefix.size() || (suffix != "" && suffix != "-wal" && suffix != "-shm" && suffix != "-journal")) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || pid > std::numeric_limits<pid_t>::max() || kill(static_cast<pid_t>(pid), 0) == 0 ||
            errno != ESRCH) {
            continue;
        }
        RemoveStoreFiles(path + std::string(kBuildingInfix) + std::to_string(pid));
    }
}

// Makes a rename in the folder survive a crash of the machine.
int SyncFolder(const std::filesystem::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int code = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return code;
}

}  // namespace

NewStoreFile::NewStoreFile(std::string path)
    : path_(std::move(path)), building_(path_ + std::string(kBuildingInfix) + std::to_string(getpid())) {
    // Only a process with this id, which has died, can have left these behind.
    RemoveStoreFiles(building_);
    RemoveLeftovers(path_);
}

NewStoreFile::~NewStoreFile() {
    if (!published_) RemoveStoreFiles(building_);
}

void NewStoreFile::Publish() {
    // The last connection's close folds the write-ahead log into the file; a
    // log still there would be lost with the rename.
    std::error_code error;
    if (std::filesystem::exists(building_ + "-wal", error) || error) {
        throw StoreError(building_ + " is still in use; " + path_ + " was not created");
    }
    int result = renameat2(AT_FDCWD, building_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system or kernel that cannot rename without replacing: a hard
        // link refuses an existing name too.
        result = link(building_.c_str(), path_.c_str());
        if (result == 0) unlink(building_.c_str());
    }
    if (result != 0) {
        const int code = errno;
        if (code == EEXIST) throw StoreError(path_ + " was created by another program meanwhile; it was left as it is");
        throw StoreError("cannot create " + path_ + ": " + std::strerror(code));
    }
    published_ = true;
    if (const int code = SyncFolder(FolderOf(path_)); code != 0) {
        throw StoreError(path_ + " was created, but its folder could not be flushed to disk: " + std::strerror(code));
    }
}

}  // namespace qv::server
