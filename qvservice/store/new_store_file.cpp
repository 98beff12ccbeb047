#include "qvservice/store/new_store_file.h"

#include "qvservice/store/store_database.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace qv::server {

void RemoveStoreFiles(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix, ignored);
}

NewStoreFile::NewStoreFile(std::string path)
    : path_(std::move(path)), building_(path_ + ".new-" + std::to_string(getpid())) {
  // Only a process with this id, which has died, can have left these behind.
  RemoveStoreFiles(building_);
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
}

}  // namespace qv::server
