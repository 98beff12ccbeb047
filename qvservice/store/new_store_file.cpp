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
    : m_path(std::move(path)), m_building(m_path + ".new-" + std::to_string(getpid())) {
  // Only a process with this id, which has died, can have left these behind.
  RemoveStoreFiles(m_building);
}

NewStoreFile::~NewStoreFile() {
  if (!m_published) RemoveStoreFiles(m_building);
}

void NewStoreFile::Publish() {
  // The last connection's close folds the write-ahead log into the file; a
  // log still there would be lost with the rename.
  std::error_code error;
  if (std::filesystem::exists(m_building + "-wal", error) || error) {
    throw StoreError(m_building + " is still in use; " + m_path + " was not created");
  }
  int result = renameat2(AT_FDCWD, m_building.c_str(), AT_FDCWD, m_path.c_str(), RENAME_NOREPLACE);
  if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system or kernel that cannot rename without replacing: a hard
    // link refuses an existing name too.
    result = link(m_building.c_str(), m_path.c_str());
    if (result == 0) unlink(m_building.c_str());
  }
  if (result != 0) {
    const int code = errno;
    if (code == EEXIST) throw StoreError(m_path + " was created by another program meanwhile; it was left as it is");
    throw StoreError("cannot create " + m_path + ": " + std::strerror(code));
  }
  m_published = true;
}

}  // namespace qv::server
