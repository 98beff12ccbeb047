// The PostgreSQL engine of the store: a database that several services share.
#pragma once

#include "store_database.h"

#include <memory>
#include <string>

namespace qv::server {

// uri: a libpq connection URI. name: what messages call the store (no password).
std::unique_ptr<Database> OpenPostgres(const std::string& uri, const std::string& name, Database::Mode mode);

}  // namespace qv::server
