#include "qvservice/model/entity_directory.h"

#include <cstring>
#include <limits>
#include <set>

namespace qv::server {

namespace {

// Names per statement: well within both engines' limits on parameters.
constexpr std::size_t kNamesPerStatement = 500;

std::string WindowKey(std::int64_t programId, std::string_view title) {
    std::string key(sizeof programId, '\0');
    std::memcpy(key.data(), &programId, sizeof programId);
    key.append(title);
    return key;
}

// "(?, ?), (?, ?)..." for rows of width parameters each, numbered in order:
// SQLite looks up each "?N" in a list, which costs with a thousand of them.
std::string Placeholders(std::size_t rows, int width) {
    std::string row = "(?";
    for (int i = 1; i < width; ++i) row += ", ?";
    row += ")";
    std::string text;
    for (std::size_t i = 0; i < rows; ++i) text += (i == 0 ? "" : ", ") + row;
    return text;
}

std::int64_t CheckedId(const Database& db, std::int64_t id) {
    // Ids travel as 32-bit integers.
    if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) {
        throw StoreError(db.Name() + ": id " + std::to_string(id) + " is out of the 32-bit range");
    }
    return id;
}

}  // namespace

EntityDirectory::EntityDirectory(Database& db, NameCache* cache)
    : db_(db),
      cache_(cache != nullptr ? *cache : ownCache_),
      users_{Statement(db, "SELECT id FROM users WHERE name = ?1"),
             Statement(db, "INSERT INTO users(name) VALUES(?1) RETURNING id"), cache_.users},
      computers_{Statement(db, "SELECT id FROM computers WHERE name = ?1"),
                 Statement(db, "INSERT INTO computers(name) VALUES(?1) RETURNING id"), cache_.computers},
      programs_{Statement(db, "SELECT id FROM programs WHERE process_name = ?1"),
                Statement(db, "INSERT INTO programs(process_name) VALUES(?1) RETURNING id"), cache_.programs},
      windows_{Statement(db, "SELECT id FROM window_titles WHERE title = ?1 AND program_id = ?2"),
               Statement(db, "INSERT INTO window_titles(title, program_id) VALUES(?1, ?2) RETURNING id"),
               cache_.windows},
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
    lookup.cache.emplace(key, CheckedId(db_, id));
    return id;
}

std::int64_t EntityDirectory::UserId(std::string_view name) { return Resolve(users_, std::string(name), name, 0); }

std::int64_t EntityDirectory::ComputerId(std::string_view name) {
    return Resolve(computers_, std::string(name), name, 0);
}

std::int64_t EntityDirectory::ProgramId(std::string_view processName, std::string_view description) {
    const std::int64_t id = Resolve(programs_, std::string(processName), processName, 0);
    if (!description.empty()) {
        auto& known = cache_.descriptions[id];
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
    return Resolve(windows_, WindowKey(programId, title), title, programId);
}

void EntityDirectory::ResolveMany(const char* table, const char* column,
                                  std::unordered_map<std::string, std::int64_t>& cache,
                                  const std::vector<std::string>& names) {
    for (std::size_t from = 0; from < names.size(); from += kNamesPerStatement) {
        const std::size_t count = std::min(kNamesPerStatement, names.size() - from);
        std::string list = Placeholders(count, 1);
        Statement select(
            db_, std::string("SELECT ") + column + ", id FROM " + table + " WHERE " + column + " IN (" + list + ")");
        for (std::size_t i = 0; i < count; ++i) select.BindText(static_cast<int>(i + 1), names[from + i]);
        while (select.Step()) cache.emplace(std::string(select.Bytes(0)), CheckedId(db_, select.Int64(1)));
        std::vector<const std::string*> missing;
        for (std::size_t i = 0; i < count; ++i) {
            if (!cache.contains(names[from + i])) missing.push_back(&names[from + i]);
        }
        if (missing.empty()) continue;
        Statement insert(db_, std::string("INSERT INTO ") + table + "(" + column + ") VALUES " +
                                  Placeholders(missing.size(), 1) + " RETURNING " + column + ", id");
        for (std::size_t i = 0; i < missing.size(); ++i) insert.BindText(static_cast<int>(i + 1), *missing[i]);
        while (insert.Step()) cache.emplace(std::string(insert.Bytes(0)), CheckedId(db_, insert.Int64(1)));
        created_ += missing.size();
    }
}

void EntityDirectory::ResolveTitles(const std::vector<std::pair<std::int64_t, std::string>>& titles) {
    for (std::size_t from = 0; from < titles.size(); from += kNamesPerStatement) {
        const std::size_t count = std::min(kNamesPerStatement, titles.size() - from);
        // A join, not "(program_id, title) IN (VALUES ...)": SQLite scans the
        // whole table for that one.
        Statement select(db_, "SELECT w.program_id, w.title, w.id FROM (VALUES " + Placeholders(count, 2) +
                                  ") AS v JOIN window_titles AS w ON w.program_id = v.column1 AND w.title = v.column2");
        for (std::size_t i = 0; i < count; ++i) {
            select.Bind(static_cast<int>(2 * i + 1), titles[from + i].first);
            select.BindText(static_cast<int>(2 * i + 2), titles[from + i].second);
        }
        while (select.Step()) {
            cache_.windows.emplace(WindowKey(select.Int64(0), select.Bytes(1)), CheckedId(db_, select.Int64(2)));
        }
        std::vector<const std::pair<std::int64_t, std::string>*> missing;
        for (std::size_t i = 0; i < count; ++i) {
            const auto& [program, title] = titles[from + i];
            if (!cache_.windows.contains(WindowKey(program, title))) missing.push_back(&titles[from + i]);
        }
        if (missing.empty()) continue;
        Statement insert(db_, "INSERT INTO window_titles(program_id, title) VALUES " + Placeholders(missing.size(), 2) +
                                  " RETURNING program_id, title, id");
        for (std::size_t i = 0; i < missing.size(); ++i) {
            insert.Bind(static_cast<int>(2 * i + 1), missing[i]->first);
            insert.BindText(static_cast<int>(2 * i + 2), missing[i]->second);
        }
        while (insert.Step()) {
            cache_.windows.emplace(WindowKey(insert.Int64(0), insert.Bytes(1)), CheckedId(db_, insert.Int64(2)));
        }
        created_ += missing.size();
    }
}

void EntityDirectory::Prefetch(std::span<const ActivityRecord> records) {
    const auto unknown = [&](const std::unordered_map<std::string, std::int64_t>& cache, auto name) {
        std::set<std::string> names;
        for (const ActivityRecord& record : records) {
            if (!cache.contains(name(record))) names.insert(name(record));
        }
        return std::vector<std::string>(names.begin(), names.end());
    };
    ResolveMany("users", "name", cache_.users, unknown(cache_.users, [](const auto& r) { return r.user; }));
    ResolveMany("computers", "name", cache_.computers,
                unknown(cache_.computers, [](const auto& r) { return r.computer; }));
    ResolveMany("programs", "process_name", cache_.programs,
                unknown(cache_.programs, [](const auto& r) { return r.process; }));
    std::set<std::pair<std::int64_t, std::string>> titles;
    for (const ActivityRecord& record : records) {
        const std::int64_t program = cache_.programs.at(record.process);
        if (!cache_.windows.contains(WindowKey(program, record.windowTitle))) {
            titles.emplace(program, record.windowTitle);
        }
    }
    ResolveTitles({titles.begin(), titles.end()});
}

void EntityDirectory::SetIcon(std::int64_t programId, std::span<const unsigned char> icon) {
    setIcon_.Reset();
    setIcon_.BindBlob(1, icon);
    setIcon_.Bind(2, programId);
    setIcon_.Step();
}

}  // namespace qv::server
