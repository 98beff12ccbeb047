#include "qvservice/store/sqlite_db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace qv::server {

namespace {

constexpr int kBusyTimeoutMs = 10000;
// Statements are asked about interruption this often, in virtual machine steps.
constexpr int kOpsPerInterruptCheck = 100000;
// A report's statement runs to kilobytes of SQL, and parsing it again for
// each answer cost a tenth of the service's time under load; a connection
// keeps its latest few, most recent first.
constexpr std::size_t kKeptStatements = 12;

class SqliteStatement final : public StatementBackend {
public:
    SqliteStatement(SqliteDatabase& db, std::string_view sql) : db_(db), sql_(sql), stmt_(db.TakePrepared(sql_)) {}
    ~SqliteStatement() override { db_.KeepPrepared(std::move(sql_), stmt_); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void Bind(int index, std::int64_t value) override { Check(sqlite3_bind_int64(stmt_, index, value)); }
    void Bind(int index, double value) override { Check(sqlite3_bind_double(stmt_, index, value)); }

    void BindText(int index, std::string_view value) override {
        if (!IsValidUtf8(value)) {
            BindBlob(index, {reinterpret_cast<const unsigned char*>(value.data()), value.size()});
            return;
        }
        Check(sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
    }

    void BindBlob(int index, std::span<const unsigned char> value) override {
        // A zero-length blob must still be a blob, not null.
        static const unsigned char kEmpty = 0;
        const void* data = value.empty() ? &kEmpty : value.data();
        Check(sqlite3_bind_blob64(stmt_, index, data, value.size(), SQLITE_TRANSIENT));
    }

    void BindNull(int index) override { Check(sqlite3_bind_null(stmt_, index)); }

    bool Step() override {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        sqlite3_reset(stmt_);
        db_.Fail("query failed", rc);
    }

    void Reset() override {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    bool IsNull(int column) const override { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::int64_t Int64(int column) const override { return sqlite3_column_int64(stmt_, column); }
    double Double(int column) const override { return sqlite3_column_double(stmt_, column); }

    std::string_view Bytes(int column) const override {
        // Blob first, then the size: the documented order that avoids conversions.
        const void* data = sqlite3_column_blob(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        if (!data || size <= 0) return {};
        return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK) db_.Fail("cannot bind a parameter", rc);
    }

    SqliteDatabase& db_;
    std::string sql_;
    sqlite3_stmt* stmt_ = nullptr;  // owned
};

std::string Parameters(std::size_t count) {
    std::string list;
    for (std::size_t i = 1; i <= count; ++i) list += (i > 1 ? ", ?" : "?") + std::to_string(i);
    return list;
}

// Within a write transaction, a prepared statement a row is SQLite's fastest
// load, and its fastest merge.
class SqliteLoader final : public BulkLoader {
public:
    SqliteLoader(SqliteDatabase& db, const std::string& sql, std::size_t width) : width_(width), insert_(db, sql) {}

    void Add(std::span<const SqlValue> row) override {
        if (row.size() != width_) throw std::logic_error("a row of the wrong width for the table");
        insert_.Reset();
        for (std::size_t i = 0; i < row.size(); ++i) {
            std::visit([&](auto value) { insert_.Bind(static_cast<int>(i + 1), value); }, row[i]);
        }
        insert_.Step();
    }
    void Finish() override {}

private:
    std::size_t width_;
    SqliteStatement insert_;
};

}  // namespace

SqliteDatabase::SqliteDatabase(const std::string& path, Mode mode) : Database(path) {
    // SQLite's memory statistics take one process-wide mutex on every
    // allocation, which the service's answering threads queued on. Only
    // possible before SQLite's first use in the process.
    [[maybe_unused]] static const int noStatistics = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    if (mode == Mode::Create && !path.empty() && path != ":memory:") {
        // Activity records are personal data: a new store is the user's alone
        // (SQLite would make it 0644), and its logs take the file's mode.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) ::close(fd);
    }
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
        case Mode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
        case Mode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
        case Mode::Create: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    }
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open store " + path + ": " + message, rc, StoreError::Kind::Unreachable);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (mode == Mode::ReadOnly) {
        Exec("PRAGMA query_only = ON");
    } else {
        Exec("PRAGMA journal_mode = WAL");
        Exec("PRAGMA synchronous = NORMAL");
        // A writer walks the rollups' b-trees at scattered keys: their upper
        // levels should stay in memory, and the staging tables never touch disk.
        Exec("PRAGMA cache_size = -65536");
        Exec("PRAGMA temp_store = MEMORY");
        Exec("PRAGMA wal_autocheckpoint = 16384");
    }
}

SqliteDatabase::~SqliteDatabase() {
    for (const auto& [sql, stmt] : prepared_) sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
}

sqlite3_stmt* SqliteDatabase::TakePrepared(const std::string& sql) {
    const auto kept =
        std::find_if(prepared_.begin(), prepared_.end(), [&](const auto& entry) { return entry.first == sql; });
    if (kept != prepared_.end()) {
        sqlite3_stmt* stmt = kept->second;
        prepared_.erase(kept);
        return stmt;
    }
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
    if (rc != SQLITE_OK) Fail("cannot prepare a statement", rc);
    return stmt;
}

void SqliteDatabase::KeepPrepared(std::string sql, sqlite3_stmt* stmt) noexcept {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    try {
        prepared_.emplace_front(std::move(sql), stmt);
    } catch (...) {
        sqlite3_finalize(stmt);
        return;
    }
    if (prepared_.size() > kKeptStatements) {
        sqlite3_finalize(prepared_.back().second);
        prepared_.pop_back();
    }
}

const Dialect& SqliteDatabase::Types() const {
    static constexpr Dialect kTypes{"INTEGER PRIMARY KEY",
                                    "INTEGER NOT NULL",
                                    "INTEGER",
                                    "REAL",
                                    "TEXT",
                                    "BLOB",
                                    " WITHOUT ROWID",
                                    "",
                                    true,
                                    "",
                                    1};
    return kTypes;
}

std::unique_ptr<StatementBackend> SqliteDatabase::Prepare(std::string_view sql) {
    return std::make_unique<SqliteStatement>(*this, sql);
}

void SqliteDatabase::Exec(const std::string& sql) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw StoreError(Name() + ": " + message, rc);
    }
}

std::unique_ptr<BulkLoader> SqliteDatabase::Load(const std::string& table, const std::vector<std::string>& columns) {
    return std::make_unique<SqliteLoader>(
        *this, "INSERT INTO " + table + "(" + CommaSeparated(columns) + ") VALUES(" + Parameters(columns.size()) + ")",
        columns.size());
}

std::unique_ptr<BulkLoader> SqliteDatabase::LoadByStart(const std::string& table,
                                                        const std::vector<std::string>& columns) {
    const auto start = std::find(columns.begin(), columns.end(), "start_ms");
    if (start == columns.end()) throw std::logic_error("rows keyed by start need a start_ms");
    const std::string startParameter = "?" + std::to_string(start - columns.begin() + 1);
    return std::make_unique<SqliteLoader>(
        *this,
        "INSERT INTO " + table + "(id, " + CommaSeparated(columns) + ") VALUES((SELECT coalesce(max(id) + 1, 0) FROM " +
            table + " WHERE start_ms = " + startParameter + "), " + Parameters(columns.size()) + ")",
        columns.size());
}

std::unique_ptr<BulkLoader> SqliteDatabase::Merge(const std::string& table, const std::vector<std::string>& keys,
                                                  const std::vector<std::string>& sums) {
    const std::size_t width = keys.size() + sums.size();
    return std::make_unique<SqliteLoader>(*this, MergeSql(table, keys, sums, "VALUES(" + Parameters(width) + ")"),
                                          width);
}

void SqliteDatabase::Begin(TransactionKind kind) { Exec(kind == TransactionKind::Read ? "BEGIN" : "BEGIN IMMEDIATE"); }

void SqliteDatabase::Commit() { Exec("COMMIT"); }

void SqliteDatabase::Rollback() noexcept { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

int SqliteDatabase::SchemaVersion() {
    SqliteStatement version(*this, "PRAGMA user_version");
    return version.Step() ? static_cast<int>(version.Int64(0)) : 0;
}

void SqliteDatabase::SetSchemaVersion(int version) { Exec("PRAGMA user_version = " + std::to_string(version)); }

bool SqliteDatabase::HoldsForeignTables() {
    SqliteStatement count(*this, "SELECT count(*) FROM sqlite_schema");
    return count.Step() && count.Int64(0) > 0;
}

void SqliteDatabase::SetInterrupt(std::function<bool()> interrupted) {
    interrupted_ = std::move(interrupted);
    if (interrupted_) {
        sqlite3_progress_handler(db_, kOpsPerInterruptCheck, &SqliteDatabase::Interrupted, this);
    } else {
        sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    }
}

int SqliteDatabase::Interrupted(void* self) { return static_cast<SqliteDatabase*>(self)->interrupted_() ? 1 : 0; }

void SqliteDatabase::Fail(const std::string& context, int code) const {
    throw StoreError(Name() + ": " + context + ": " + sqlite3_errmsg(db_), code);
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t point = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) return false;
            point = (point << 6) | (byte(i + k) & 0x3F);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kMinimum[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace qv::server
