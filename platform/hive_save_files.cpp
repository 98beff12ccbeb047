#include "platform/hive_save_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <ctime>

void RemoveStaleHiveSaveFiles(const std::string& dir) {
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return;
    const std::time_t staleBefore = std::time(nullptr) - kHiveSaveFileStaleAge.count();
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(kHiveSaveFilePrefix)) continue;
        const std::string path = dir + "/" + std::string(name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        // Fresh files may belong to a save that has not locked its file
        // yet, or has closed it and not yet renamed it.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < staleBefore &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(listing);
}
