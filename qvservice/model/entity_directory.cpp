#include "qvservice/model/entity_directory.h"

#include <cstring>
#include <limits>

namespace qv::server {

EntityDirectory::EntityDirectory(Database& db)
    : m_db(db),
      m_users{Statement(db, "SELECT id FROM users WHERE name = ?1"),
              Statement(db, "INSERT INTO users(name) VALUES(?1) RETURNING id"), {}},
      m_computers{Statement(db, "SELECT id FROM computers WHERE name = ?1"),
                  Statement(db, "INSERT INTO computers(name) VALUES(?1) RETURNING id"), {}},
      m_programs{Statement(db, "SELECT id FROM programs WHERE process_name = ?1"),
                 Statement(db, "INSERT INTO programs(process_name) VALUES(?1) RETURNING id"), {}},
      m_windows{Statement(db, "SELECT id FROM window_titles WHERE title = ?1 AND program_id = ?2"),
                Statement(db, "INSERT INTO window_titles(title, program_id) VALUES(?1, ?2) RETURNING id"), {}},
      m_setDescription(db, "UPDATE programs SET description = ?1 WHERE id = ?2 AND description IS DISTINCT FROM ?1"),
      m_setIcon(db, "UPDATE programs SET icon = ?1 WHERE id = ?2") {}

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
    if (!lookup.insert.Step()) throw StoreError(m_db.Name() + ": a new name was not stored");
    id = lookup.insert.Int64(0);
    ++m_created;
  }
  lookup.select.Reset();
  lookup.insert.Reset();
  // Ids travel as 32-bit integers.
  if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) {
    throw StoreError(m_db.Name() + ": id " + std::to_string(id) + " is out of the 32-bit range");
  }
  lookup.cache.emplace(key, id);
  return id;
}

std::int64_t EntityDirectory::UserId(std::string_view name) { return Resolve(m_users, std::string(name), name, 0); }

std::int64_t EntityDirectory::ComputerId(std::string_view name) {
  return Resolve(m_computers, std::string(name), name, 0);
}

std::int64_t EntityDirectory::ProgramId(std::string_view processName, std::string_view description) {
  const std::int64_t id = Resolve(m_programs, std::string(processName), processName, 0);
  if (!description.empty()) {
    auto& known = m_descriptions[id];
    if (known != description) {
      m_setDescription.Reset();
      m_setDescription.BindText(1, description);
      m_setDescription.Bind(2, id);
      m_setDescription.Step();
      known = description;
    }
  }
  return id;
}

std::int64_t EntityDirectory::WindowId(std::int64_t programId, std::string_view title) {
  std::string key(sizeof programId, '\0');
  std::memcpy(key.data(), &programId, sizeof programId);
  key.append(title);
  return Resolve(m_windows, key, title, programId);
}

void EntityDirectory::SetIcon(std::int64_t programId, std::span<const unsigned char> icon) {
  m_setIcon.Reset();
  m_setIcon.BindBlob(1, icon);
  m_setIcon.Bind(2, programId);
  m_setIcon.Step();
}

}  // namespace qv::server
