// The SQLite engine of the store: a file on the service's own disk.
#pragma once

#include "qvservice/store/store_database.h"

#include <list>
#include <string>
#include <string_view>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

namespace qv::server {

class SqliteDatabase final : public Database {
public:
    SqliteDatabase(const std::string& path, Mode mode);
    ~SqliteDatabase() override;

    sqlite3* Handle() const { return db_; }
    const Dialect& Types() const override;
    std::unique_ptr<StatementBackend> Prepare(std::string_view sql) override;
    void Exec(const std::string& sql) override;
    std::unique_ptr<BulkLoader> Load(const std::string& table, const std::vector<std::string>& columns) override;
    std::unique_ptr<BulkLoader> LoadByStart(const std::string& table, const std::vector<std::string>& columns) override;
    std::unique_ptr<BulkLoader> Merge(const std::string& table, const std::vector<std::string>& keys,
                                      const std::vector<std::string>& sums) override;
    void Begin(TransactionKind kind) override;
    void Commit() override;
    void Rollback() noexcept override;
    int SchemaVersion() override;
    void SetSchemaVersion(int version) override;
    bool HoldsForeignTables() override;
    void SetInterrupt(std::function<bool()> interrupted) override;

    [[noreturn]] void Fail(const std::string& context, int code) const;

    // A prepared statement of this text, kept from an earlier use or new;
    // Keep takes it back when its user is done.
    sqlite3_stmt* TakePrepared(const std::string& sql);
    void KeepPrepared(std::string sql, sqlite3_stmt* stmt) noexcept;

private:
    static int Interrupted(void* self);

    sqlite3* db_ = nullptr;  // owned
    std::function<bool()> interrupted_;
    std::list<std::pair<std::string, sqlite3_stmt*>> prepared_;  // owned, idle
};

// Text that is valid UTF-8 is stored as text; anything else as a blob, so
// every byte survives and equal bytes still compare equal.
bool IsValidUtf8(std::string_view text);

}  // namespace qv::server
