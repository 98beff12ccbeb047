// A new store is built under a temporary name beside its final path and takes
// that name only when it is complete, so a failed write leaves no store file
// behind, and a store that appeared meanwhile is never overwritten. What a
// killed build left is removed by the next one, once its process is gone.
#pragma once

#include <string>

namespace qv::server {

class NewStoreFile {
public:
    explicit NewStoreFile(std::string path);
    // Removes the temporary files unless the store was published.
    ~NewStoreFile();
    NewStoreFile(const NewStoreFile&) = delete;
    NewStoreFile& operator=(const NewStoreFile&) = delete;

    // Where to build the store.
    const std::string& BuildPath() const { return building_; }
    // Gives the store its final name, flushed to disk with its folder; call
    // once every connection to BuildPath is closed. Throws StoreError when the
    // final name is taken.
    void Publish();

private:
    std::string path_;
    std::string building_;
    bool published_ = false;
};

// Removes a store file and the files SQLite keeps beside it.
void RemoveStoreFiles(const std::string& path);

}  // namespace qv::server
