// Ids of users, computers, programs and window titles by name, created on
// first use. Lives inside the caller's write transaction; names are compared
// byte for byte.
#pragma once

#include "qvservice/store/store_database.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qv::server {

class EntityDirectory {
public:
    explicit EntityDirectory(Database& db);

    std::int64_t UserId(std::string_view name);
    std::int64_t ComputerId(std::string_view name);
    // A non-empty description replaces the stored one.
    std::int64_t ProgramId(std::string_view processName, std::string_view description);
    std::int64_t WindowId(std::int64_t programId, std::string_view title);
    void SetIcon(std::int64_t programId, std::span<const unsigned char> icon);

    std::size_t CreatedCount() const { return created_; }

private:
    struct Lookup {
        Statement select;
        Statement insert;
        std::unordered_map<std::string, std::int64_t> cache;
    };
    std::int64_t Resolve(Lookup& lookup, const std::string& key, std::string_view name, std::int64_t programId);

    Database& db_;
    Lookup users_;
    Lookup computers_;
    Lookup programs_;
    Lookup windows_;
    Statement setDescription_;
    Statement setIcon_;
    std::unordered_map<std::int64_t, std::string> descriptions_;
    std::size_t created_ = 0;
};

}  // namespace qv::server
