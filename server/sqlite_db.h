// Thin RAII layer over SQLite: a connection, prepared statements with bound
// parameters, and transactions that roll back unless committed.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace qv::server {

class StoreError : public std::runtime_error {
 public:
  explicit StoreError(const std::string& what, int code = 0) : std::runtime_error(what), m_code(code) {}
  int Code() const { return m_code; }

 private:
  int m_code;
};

class Database {
 public:
  enum class Mode { ReadOnly, ReadWrite, Create };

  Database(const std::string& path, Mode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* Handle() const { return m_db; }
  const std::string& Path() const { return m_path; }
  void Exec(const char* sql);
  std::int64_t LastInsertRowId() const;
  int Changes() const;
  [[noreturn]] void Fail(const std::string& context, int code) const;

 private:
  sqlite3* m_db = nullptr;  // owned
  std::string m_path;
};

class Statement {
 public:
  Statement(Database& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1, as in SQLite.
  void Bind(int index, std::int64_t value);
  void Bind(int index, double value);
  // Text that is valid UTF-8 is stored as text; anything else as a blob, so
  // every byte survives and equal bytes still compare equal.
  void BindText(int index, std::string_view value);
  void BindBlob(int index, std::span<const unsigned char> value);
  void BindNull(int index);

  // True while a row is available; throws on errors.
  bool Step();
  void Reset();

  bool IsNull(int column) const;
  std::int64_t Int64(int column) const;
  double Double(int column) const;
  // Text or blob bytes of the current row; valid until the next Step.
  std::string_view Bytes(int column) const;

 private:
  Database& m_db;
  sqlite3_stmt* m_stmt = nullptr;  // owned
};

// BEGIN IMMEDIATE (writers) or BEGIN (readers: one consistent snapshot).
class Transaction {
 public:
  enum class Kind { Deferred, Immediate };
  Transaction(Database& db, Kind kind);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& m_db;
  bool m_open = true;
};

bool IsValidUtf8(std::string_view text);

}  // namespace qv::server
