#include "qvservice/model/entity_directory.h"

#include <cstring>
#include <limits>

namespace qv::server {

EntityDirectory::EntityDirectory(Database& db)
    : db_(db),
      users_{Statement(db, "SELECT id FROM users WHERE name = ?1"),
             Statement(db, "INSERT INTO users(name) VALUES(?1) RETURNING id"),
             {}},
      computers_{Statement(db, "SELECT id FROM computers WHERE name = ?1"),
                 Statement(db, "INSERT INTO computers(name) VALUES(?1) RETURNING id"),
                 {}},
      programs_{Statement(db, "SELECT id FROM programs WHERE process_name = ?1"),
                Statement(db, "INSERT INTO programs(process_name) VALUES(?1) RETURNING id"),
                {}},
      windows_{Statement(db, "SELECT id FROM window_titles WHERE title = ?1 AND program_id = ?2"),
               Statement(db, "INSERT INTO window_titles(title, program_id) VALUES(?1, ?2) RETURNING id"),
               {}},
      setDescription_(db, "UPDATE programs SET description = ?1 WHERE id = ?2 AND description IS DISTINCT FROM ?1"),
      setIcon_(db, "UPDATE programs SET icon = ?1 WHERE id = ?2") {}

std::int64_t EntityDirectory::Resolve(Lookup& lookup, const std::string& key, std::string_view name,
                                      std::int64_t programId) {
    if (const auto found = lookup.cache.find(key); found != lookup.cache.end()) return found->second;
    // Look up before inserting: a failed insert would still use up a key of
    // a database server's sequence.
    std::int64_t id = 0;
    lookup.select.Reset();
    lookup.select.BindText(1, name);
    if (programId != 0) lookup.select.Bind(2, programId);
    if (lookup.select.Step()) {
        id = lookup.select.Int64(0);
    } else {
        lookup.insert.Reset();
        lookup.insert.BindText(1, name);
        if (programId != 0) lookup.insert.Bind(2, programId);
        if (!lookup.insert.Step()) throw StoreError(db_.Name() + ": a new name was not stored");
        id = lookup.insert.Int64(0);
        ++created_;
    }
    lookup.select.Reset();
    lookup.insert.Reset();
    // Ids travel as 32-bit integers.
    if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) {
        throw StoreError(db_.Name() + ": id " + std::to_string(id) + " is out of the 32-bit range");
    }
    lookup.cache.emplace(key, id);
    return id;
}

std::int64_t EntityDirectory::UserId(std::string_view name) { return Resolve(users_, std::string(name), name, 0); }

std::int64_t EntityDirectory::ComputerId(std::string_view name) {
    return Resolve(computers_, std::string(name), name, 0);
}

std::int64_t EntityDirectory::ProgramId(std::string_view processName, std::string_view description) {
    const std::int64_t id = Resolve(programs_, std::string(processName), processName, 0);
    if (!description.empty()) {
        auto& known = descriptions_[id];
        if (known != description) {
            setDescription_.Reset();
            setDescription_.BindText(1, description);
            setDescription_.Bind(2, id);
            setDescription_.Step();
            known = description;
        }
    }
    return id;
}

std::int64_t EntityDirectory::WindowId(std::int64_t programId, std::string_view title) {
    std::string key(sizeof programId, '\0');
    std::memcpy(key.data(), &programId, sizeof programId);
    key.append(title);
    return Resolve(windows_, key, title, programId);
}

void EntityDirectory::SetIcon(std::int64_t programId, std::span<const unsigned char> icon) {
    setIcon_.Reset();
    setIcon_.BindBlob(1, icon);
    setIcon_.Bind(2, programId);
    setIcon_.Step();
}

}  // namespace qv::server
