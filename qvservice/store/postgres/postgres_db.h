// The store on a PostgreSQL server, shared by every service that names the
// same database. Speaks the store's SQL ("?N" parameters) through libpq.
#pragma once

#include "qvservice/store/store_database.h"

#include <memory>
#include <string>

namespace qv::server {

// uri: a libpq connection URI (postgresql://... or postgres://...).
// name: what messages call the store; never holds a password.
// Throws StoreError (kind Unreachable) when no connection can be made.
std::unique_ptr<Database> OpenPostgres(const std::string& uri, const std::string& name, Database::Mode mode);

}  // namespace qv::server
