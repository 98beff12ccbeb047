// Ids of users, computers, programs and window titles by name, created on
// first use. Lives inside the caller's write transaction; names are compared
// byte for byte.
#pragma once

#include "qvservice/store/store_database.h"
#include "records/activity_record.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv::server {

// Ids already resolved, by name. A writer that commits batch after batch
// keeps one across its transactions, and clears it when one fails (ids of a
// rolled-back transaction name nothing) or when the store's names generation
// (store_schema.h) has changed since it was filled (a prune removed names).
struct NameCache {
    std::unordered_map<std::string, std::int64_t> users;
    std::unordered_map<std::string, std::int64_t> computers;
    std::unordered_map<std::string, std::int64_t> programs;
    std::unordered_map<std::string, std::int64_t> windows;  // keyed by program id bytes, then title
    std::unordered_map<std::int64_t, std::string> descriptions;
    void Clear() { *this = NameCache(); }
};

class EntityDirectory {
public:
    // cache: null for one of its own, for this directory's lifetime.
    explicit EntityDirectory(Database& db, NameCache* cache = nullptr);

    std::int64_t UserId(std::string_view name);
    std::int64_t ComputerId(std::string_view name);
    // A non-empty description replaces the stored one.
    std::int64_t ProgramId(std::string_view processName, std::string_view description);
    std::int64_t WindowId(std::int64_t programId, std::string_view title);
    void SetIcon(std::int64_t programId, std::span<const unsigned char> icon);
    // Resolves the names of many records in a few statements instead of one
    // or two per name, which on a database server are a round trip each.
    // Of several batches at once, so that their new names are inserted in
    // one order.
    void Prefetch(const std::vector<std::span<const ActivityRecord>>& parts);

    std::size_t CreatedCount() const { return created_; }

private:
    struct Lookup {
        Statement select;
        Statement insert;
        std::unordered_map<std::string, std::int64_t>& cache;
    };
    std::int64_t Resolve(Lookup& lookup, const std::string& key, std::string_view name, std::int64_t programId);
    struct NameTable {
        const char* table;
        const char* column;
        std::unordered_map<std::string, std::int64_t>& cache;
        bool titled;  // window titles: keyed by program id and title
    };
    // items: (program id or 0, name), not yet cached, each once. Looks them
    // up, inserts the missing.
    void ResolveMany(const NameTable& names, const std::vector<std::pair<std::int64_t, std::string>>& items);

    Database& db_;
    NameCache ownCache_;
    NameCache& cache_;
    Lookup users_;
    Lookup computers_;
    Lookup programs_;
    Lookup windows_;
    Statement setDescription_;
    Statement setIcon_;
    std::size_t created_ = 0;
};

}  // namespace qv::server
