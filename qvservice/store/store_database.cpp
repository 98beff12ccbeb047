#include "qvservice/store/store_database.h"

#include "qvservice/store/postgres/postgres_db.h"
#include "qvservice/store/sqlite_db.h"

namespace qv::server {

bool IsPostgresStore(std::string_view store) {
  return store.starts_with("postgresql://") || store.starts_with("postgres://");
}

std::string PrintableStoreName(std::string_view store) {
  if (!IsPostgresStore(store)) return std::string(store);
  const std::size_t authority = store.find("://") + 3;
  const std::size_t authorityEnd = std::min(store.find_first_of("/?", authority), store.size());
  std::string printable(store.substr(0, authority));
  const std::string_view hosts = store.substr(authority, authorityEnd - authority);
  if (const std::size_t at = hosts.rfind('@'); at != std::string_view::npos) {
    printable += hosts.substr(0, std::min(hosts.find(':'), at));  // the user without the password
    printable += hosts.substr(at);
  } else {
    printable += hosts;
  }
  const std::size_t query = std::min(store.find('?', authorityEnd), store.size());
  printable += store.substr(authorityEnd, query - authorityEnd);
  // Query parameters that carry secrets (password, sslpassword) are left out.
  char separator = '?';
  for (std::size_t at = query; at < store.size();) {
    const std::size_t end = std::min(store.find('&', at + 1), store.size());
    const std::string_view parameter = store.substr(at + 1, end - at - 1);
    const std::string_view key = parameter.substr(0, parameter.find('='));
    if (!key.ends_with("password") && !parameter.empty()) {
      printable += separator;
      printable += parameter;
      separator = '&';
    }
    at = end;
  }
  return printable;
}

std::unique_ptr<Database> OpenStore(const std::string& store, Database::Mode mode) {
  if (IsPostgresStore(store)) return OpenPostgres(store, PrintableStoreName(store), mode);
  return std::make_unique<SqliteDatabase>(store, mode);
}

}  // namespace qv::server
