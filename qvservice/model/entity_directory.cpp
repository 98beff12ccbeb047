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
             Statement(db, "INSERT INTO users(name) VALUES(?1) ON CONFLICT DO NOTHING RETURNING id"), cache_.users},
      computers_{Statement(db, "SELECT id FROM computers WHERE name = ?1"),
                 Statement(db, "INSERT INTO computers(name) VALUES(?1) ON CONFLICT DO NOTHING RETURNING id"),
                 cache_.computers},
      programs_{Statement(db, "SELECT id FROM programs WHERE process_name = ?1"),
                Statement(db, "INSERT INTO programs(process_name) VALUES(?1) ON CONFLICT DO NOTHING RETURNING id"),
                cache_.programs},
      windows_{
          Statement(db, "SELECT id FROM window_titles WHERE title = ?1 AND program_id = ?2"),
          Statement(db,
                    "INSERT INTO window_titles(title, program_id) VALUES(?1, ?2) ON CONFLICT DO NOTHING RETURNING id"),
          cache_.windows},
      setDescription_(db, "UPDATE programs SET description = ?1 WHERE id = ?2 AND description IS DISTINCT FROM ?1"),
      setIcon_(db, "UPDATE programs SET icon = ?1 WHERE id = ?2") {}

std::int64_t EntityDirectory::Resolve(Lookup& lookup, const std::string& key, std::string_view name,
                                      std::int64_t programId) {
    if (const auto found = lookup.cache.find(key); found != lookup.cache.end()) return found->second;
    const auto run = [&](Statement& statement) {
        statement.Reset();
        statement.BindText(1, name);
        if (programId != 0) statement.Bind(2, programId);
        const bool found = statement.Step();
        const std::int64_t id = found ? statement.Int64(0) : 0;
        statement.Reset();
        return id;
    };
    // Look up before inserting: a failed insert would still use up a key of
    // a database server's sequence. The insert finds the name taken when
    // another writer stored it meanwhile; the second look finds it then.
    std::int64_t id = run(lookup.select);
    if (id == 0 && (id = run(lookup.insert)) != 0) ++created_;
    if (id == 0) id = run(lookup.select);
    if (id == 0) throw StoreError(db_.Name() + ": a new name was not stored");
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

void EntityDirectory::ResolveMany(const NameTable& names,
                                  const std::vector<std::pair<std::int64_t, std::string>>& items) {
    using Item = std::pair<std::int64_t, std::string>;
    const auto key = [&](std::int64_t program, std::string_view name) {
        return names.titled ? WindowKey(program, name) : std::string(name);
    };
    const auto bind = [&](Statement& statement, const std::vector<const Item*>& wanted) {
        int parameter = 0;
        for (const Item* item : wanted) {
            if (names.titled) statement.Bind(++parameter, item->first);
            statement.BindText(++parameter, item->second);
        }
    };
    // Rows of (program id,) name, id.
    const auto collect = [&](Statement& statement) {
        std::size_t rows = 0;
        const int name = names.titled ? 1 : 0;
        while (statement.Step()) {
            names.cache.emplace(key(names.titled ? statement.Int64(0) : 0, statement.Bytes(name)),
                                CheckedId(db_, statement.Int64(name + 1)));
            ++rows;
        }
        return rows;
    };
    const auto unresolved = [&](const std::vector<const Item*>& wanted) {
        std::vector<const Item*> left;
        for (const Item* item : wanted) {
            if (!names.cache.contains(key(item->first, item->second))) left.push_back(item);
        }
        return left;
    };
    const int width = names.titled ? 2 : 1;
    const std::string columns = std::string(names.titled ? "program_id, " : "") + names.column;
    for (std::size_t from = 0; from < items.size(); from += kNamesPerStatement) {
        std::vector<const Item*> wanted;
        for (std::size_t i = from; i < std::min(items.size(), from + kNamesPerStatement); ++i)
            wanted.push_back(&items[i]);
        // Looked up first: a failed insert would still use up keys of a
        // database server's sequence. Names that another writer stored since
        // the look are passed over by the insert and found by a second look.
        for (int look = 0; look < 2 && !wanted.empty(); ++look) {
            // A join, not "(program_id, title) IN (VALUES ...)": SQLite scans
            // the whole table for that one.
            Statement select(db_, names.titled ? "SELECT w.program_id, w.title, w.id FROM (VALUES " +
                                                     Placeholders(wanted.size(), 2) +
                                                     ") AS v JOIN window_titles AS w ON w.program_id = v.column1 "
                                                     "AND w.title = v.column2"
                                               : "SELECT " + columns + ", id FROM " + names.table + " WHERE " +
                                                     columns + " IN (" + Placeholders(wanted.size(), 1) + ")");
            bind(select, wanted);
            collect(select);
            wanted = unresolved(wanted);
            if (look > 0 || wanted.empty()) continue;
            Statement insert(db_, std::string("INSERT INTO ") + names.table + "(" + columns + ") VALUES " +
                                      Placeholders(wanted.size(), width) + " ON CONFLICT DO NOTHING RETURNING " +
                                      columns + ", id");
            bind(insert, wanted);
            created_ += collect(insert);
            wanted = unresolved(wanted);
        }
        if (!wanted.empty()) throw StoreError(db_.Name() + ": a new name was not stored");
    }
}

void EntityDirectory::Prefetch(const std::vector<std::span<const ActivityRecord>>& parts) {
    // Each table's names in order, tables one after another: writers at the
    // same time then wait for each other's new names without deadlock.
    const auto resolve = [&](const NameTable& names, auto key) {
        std::set<std::pair<std::int64_t, std::string>> wanted;
        for (const auto records : parts) {
            for (const ActivityRecord& record : records) {
                auto item = key(record);
                const std::string cached = names.titled ? WindowKey(item.first, item.second) : item.second;
                if (!names.cache.contains(cached)) wanted.insert(std::move(item));
            }
        }
        ResolveMany(names, {wanted.begin(), wanted.end()});
    };
    const auto plain = [](auto member) {
        return [member](const ActivityRecord& r) { return std::pair<std::int64_t, std::string>(0, r.*member); };
    };
    resolve({"users", "name", cache_.users, false}, plain(&ActivityRecord::user));
    resolve({"computers", "name", cache_.computers, false}, plain(&ActivityRecord::computer));
    resolve({"programs", "process_name", cache_.programs, false}, plain(&ActivityRecord::process));
    resolve({"window_titles", "title", cache_.windows, true}, [&](const ActivityRecord& r) {
        return std::pair<std::int64_t, std::string>(cache_.programs.at(r.process), r.windowTitle);
    });
}

void EntityDirectory::SetIcon(std::int64_t programId, std::span<const unsigned char> icon) {
    setIcon_.Reset();
    setIcon_.BindBlob(1, icon);
    setIcon_.Bind(2, programId);
    setIcon_.Step();
}

}  // namespace qv::server
