#include "sqlite_db.h"

#include <sqlite3.h>

namespace qv::server {

namespace {
constexpr int kBusyTimeoutMs = 10000;
}

Database::Database(const std::string& path, Mode mode) : m_path(path) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case Mode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::Create: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
  }
  const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
    sqlite3_close(m_db);
    m_db = nullptr;
    throw StoreError("cannot open store " + path + ": " + message, rc);
  }
  sqlite3_extended_result_codes(m_db, 1);
  sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
  if (mode == Mode::ReadOnly) {
    Exec("PRAGMA query_only = ON");
  } else {
    Exec("PRAGMA journal_mode = WAL");
    Exec("PRAGMA synchronous = NORMAL");
  }
}

Database::~Database() { sqlite3_close_v2(m_db); }

void Database::Exec(const char* sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    const std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw StoreError(m_path + ": " + message, rc);
  }
}

std::int64_t Database::LastInsertRowId() const { return sqlite3_last_insert_rowid(m_db); }

int Database::Changes() const { return sqlite3_changes(m_db); }

void Database::Fail(const std::string& context, int code) const {
  throw StoreError(m_path + ": " + context + ": " + sqlite3_errmsg(m_db), code);
}

Statement::Statement(Database& db, std::string_view sql) : m_db(db) {
  const int rc = sqlite3_prepare_v2(db.Handle(), sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr);
  if (rc != SQLITE_OK) db.Fail("cannot prepare a statement", rc);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::Bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(m_stmt, index, value);
  if (rc != SQLITE_OK) m_db.Fail("cannot bind a parameter", rc);
}

void Statement::Bind(int index, double value) {
  const int rc = sqlite3_bind_double(m_stmt, index, value);
  if (rc != SQLITE_OK) m_db.Fail("cannot bind a parameter", rc);
}

void Statement::BindText(int index, std::string_view value) {
  if (!IsValidUtf8(value)) {
    BindBlob(index, {reinterpret_cast<const unsigned char*>(value.data()), value.size()});
    return;
  }
  const int rc = sqlite3_bind_text64(m_stmt, index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  if (rc != SQLITE_OK) m_db.Fail("cannot bind a parameter", rc);
}

void Statement::BindBlob(int index, std::span<const unsigned char> value) {
  // A zero-length blob must still be a blob, not null.
  static const unsigned char kEmpty = 0;
  const void* data = value.empty() ? &kEmpty : value.data();
  const int rc = sqlite3_bind_blob64(m_stmt, index, data, value.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) m_db.Fail("cannot bind a parameter", rc);
}

void Statement::BindNull(int index) {
  const int rc = sqlite3_bind_null(m_stmt, index);
  if (rc != SQLITE_OK) m_db.Fail("cannot bind a parameter", rc);
}

bool Statement::Step() {
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(m_stmt);
  m_db.Fail("query failed", rc);
}

void Statement::Reset() {
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

std::int64_t Statement::Int64(int column) const { return sqlite3_column_int64(m_stmt, column); }

double Statement::Double(int column) const { return sqlite3_column_double(m_stmt, column); }

std::string_view Statement::Bytes(int column) const {
  // Blob first, then the size: the documented order that avoids conversions.
  const void* data = sqlite3_column_blob(m_stmt, column);
  const int size = sqlite3_column_bytes(m_stmt, column);
  if (!data || size <= 0) return {};
  return {static_cast<const char*>(data), static_cast<std::size_t>(size)};
}

Transaction::Transaction(Database& db, Kind kind) : m_db(db) {
  db.Exec(kind == Kind::Immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (m_open) sqlite3_exec(m_db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  m_db.Exec("COMMIT");
  m_open = false;
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
