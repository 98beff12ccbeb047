// The store's database, whichever engine holds it: a SQLite file on the
// service's disk or a PostgreSQL database shared by several services. The
// query, import and demo code speak to it only through these classes, with
// one SQL text for both engines ("?N" parameters, types from Dialect).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qv::server {

class StoreError : public std::runtime_error {
public:
    enum class Kind {
        Failed,          // the store refused or failed a statement
        Unreachable,     // no connection could be made
        ConnectionLost,  // the connection broke; a new one may work
    };
    explicit StoreError(const std::string& what, int code = 0, Kind kind = Kind::Failed)
        : std::runtime_error(what), code_(code), kind_(kind) {}
    int Code() const { return code_; }
    Kind Reason() const { return kind_; }

private:
    int code_;
    Kind kind_;
};

// Column types in the schema's SQL, by engine.
struct Dialect {
    const char* idColumn;  // an integer key the store assigns
    // The records' id, the second part of their key after the start: on
    // SQLite the writer's number among the records of one start, mostly 0,
    // which takes no bytes; on a database server an identity.
    const char* recordId;
    const char* integer;     // 64-bit integer
    const char* real;        // double
    const char* name;        // names and titles: any bytes, compared byte for byte
    const char* blob;        // bytes
    const char* keyedTable;  // after a table whose primary key is its row
    // After a query of ids: keeps the rows from being deleted until commit.
    const char* keyShareLock;
    // Whether the trees' answers are grouped by the service rather than by
    // the engine: SQLite sorts to group, a hash in the service is several
    // times faster; a database server groups where the rows are, without
    // sending them. Title answers are grouped by the service on both.
    bool groupsInService;
    // After a query of rows that the transaction will change: locks them
    // against other writers until commit.
    const char* updateLock;
    // How many Append transactions pay to run at once: SQLite writes one at
    // a time anyway; a database server's backends work on other cores.
    int appendWriters;
};

using SqlValue = std::variant<std::int64_t, double>;

// One prepared statement of an engine. Parameters count from 1; columns from 0.
class StatementBackend {
public:
    virtual ~StatementBackend() = default;
    virtual void Bind(int index, std::int64_t value) = 0;
    virtual void Bind(int index, double value) = 0;
    virtual void BindText(int index, std::string_view value) = 0;
    virtual void BindBlob(int index, std::span<const unsigned char> value) = 0;
    virtual void BindNull(int index) = 0;
    virtual bool Step() = 0;
    virtual void Reset() = 0;
    virtual bool IsNull(int column) const = 0;
    virtual std::int64_t Int64(int column) const = 0;
    virtual double Double(int column) const = 0;
    virtual std::string_view Bytes(int column) const = 0;
};

// Appends rows of integers and reals to one table, in batches as the engine
// loads them fastest. Rows may be held back until Finish.
class BulkLoader {
public:
    virtual ~BulkLoader() = default;
    virtual void Add(std::span<const SqlValue> row) = 0;
    virtual void Finish() = 0;
};

class Database {
public:
    enum class Mode { ReadOnly, ReadWrite, Create };
    enum class TransactionKind {
        Read,   // one consistent snapshot
        Write,  // one writer at a time, across every process using the store
        // Adds records beside other Append transactions, none beside a Write.
        // Its rows must not collide with theirs but through locks taken in one
        // order (see BatchIngest).
        Append,
    };

    virtual ~Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The store as messages name it; never holds a password.
    const std::string& Name() const { return name_; }
    virtual const Dialect& Types() const = 0;

    virtual std::unique_ptr<StatementBackend> Prepare(std::string_view sql) = 0;
    // Runs statements that take no parameters and return no rows.
    virtual void Exec(const std::string& sql) = 0;
    virtual std::unique_ptr<BulkLoader> Load(const std::string& table, const std::vector<std::string>& columns) = 0;
    // Load into a table keyed by (start_ms, id): each row also gets an id that
    // no row of the same start has.
    virtual std::unique_ptr<BulkLoader> LoadByStart(const std::string& table,
                                                    const std::vector<std::string>& columns) = 0;
    // Rows of keys then sums: a row whose key the table holds (its primary
    // key) adds its sums to that row's. A key must come once per Finish.
    virtual std::unique_ptr<BulkLoader> Merge(const std::string& table, const std::vector<std::string>& keys,
                                              const std::vector<std::string>& sums) = 0;

    virtual void Begin(TransactionKind kind) = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;

    // The store's schema version, 0 when it holds none of this program's tables.
    virtual int SchemaVersion() = 0;
    virtual void SetSchemaVersion(int version) = 0;
    // Whether the store holds any table, this program's or another's, that
    // would make it unsafe to create the schema in.
    virtual bool HoldsForeignTables() = 0;
    // Drops the foreign keys of table, where the engine enforces them.
    virtual void DropForeignKeys(const std::string& /*table*/) {}

    // After a large write has committed: lets the engine's planner learn the
    // new sizes of the tables before the next query. Best effort.
    virtual void RefreshPlannerStatistics() noexcept {}

    // Asked now and then while a statement runs; when it says true the
    // statement stops with a StoreError. Empty: never.
    virtual void SetInterrupt(std::function<bool()> interrupted) = 0;
    // True once the connection is lost for good; the pool then drops it.
    virtual bool Broken() const { return false; }

protected:
    explicit Database(std::string name) : name_(std::move(name)) {}

private:
    std::string name_;
};

class Statement {
public:
    Statement(Database& db, std::string_view sql) : impl_(db.Prepare(sql)) {}
    void Bind(int index, std::int64_t value) { impl_->Bind(index, value); }
    void Bind(int index, double value) { impl_->Bind(index, value); }
    void BindText(int index, std::string_view value) { impl_->BindText(index, value); }
    void BindBlob(int index, std::span<const unsigned char> value) { impl_->BindBlob(index, value); }
    void BindNull(int index) { impl_->BindNull(index); }
    // True while a row is available; throws StoreError.
    bool Step() { return impl_->Step(); }
    void Reset() { impl_->Reset(); }
    bool IsNull(int column) const { return impl_->IsNull(column); }
    std::int64_t Int64(int column) const { return impl_->Int64(column); }
    double Double(int column) const { return impl_->Double(column); }
    // Text or blob bytes of the current row; valid until the next Step.
    std::string_view Bytes(int column) const { return impl_->Bytes(column); }

private:
    std::unique_ptr<StatementBackend> impl_;
};

// Rolls back unless committed.
class Transaction {
public:
    using Kind = Database::TransactionKind;
    Transaction(Database& db, Kind kind) : db_(db) { db.Begin(kind); }
    ~Transaction() {
        if (open_) db_.Rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        db_.Commit();
        open_ = false;
    }

private:
    Database& db_;
    bool open_ = true;
};

// "a, b, c": column lists for SQL.
std::string CommaSeparated(const std::vector<std::string>& names);

// For engines' Merge: "INSERT INTO table(keys, sums) rows ON CONFLICT(keys)
// DO UPDATE" adding each sum, where rows is VALUES(...) or a SELECT.
std::string MergeSql(const std::string& table, const std::vector<std::string>& keys,
                     const std::vector<std::string>& sums, const std::string& rows);

// "postgresql://..." or "postgres://..." names a PostgreSQL database (a libpq
// connection URI); anything else a SQLite file.
bool IsPostgresStore(std::string_view store);
// The store argument without passwords, for logs and messages: for a
// PostgreSQL store, rebuilt from libpq's own reading of the URI, so that a
// password is left out however it is spelt or escaped.
std::string PrintableStoreName(std::string_view store);
// True when libpq would read part of a PostgreSQL URI's user name or password
// as its host, port or database (an "@" or "/" there left unescaped): libpq's
// messages would then show that part, so such a URI is refused unconnected.
bool MisreadsUserPart(std::string_view store);
// Overwrites in place every argument that names a PostgreSQL store (alone or
// as --store=URI) with its printable name, so that ps shows no password.
// Call once the arguments have been copied.
void HideStorePasswords(int argc, char** argv);
// Throws StoreError.
std::unique_ptr<Database> OpenStore(const std::string& store, Database::Mode mode);
// A store file that exists, or a database that holds a store's tables.
bool StoreExists(const std::string& store);

}  // namespace qv::server
