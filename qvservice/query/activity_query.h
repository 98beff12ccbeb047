// The answers of Query and QueryProgramInfo, read from the store.
#pragma once

#include "qvservice/query/query_request.h"
#include "qvservice/query/result_cursor.h"
#include "qvservice/store/store_database.h"

#include <cstdint>
#include <memory>

namespace qv::server {

// Rows of the request's kind with their child counts and totals over the
// period. The cursor reads one snapshot of the store and must not outlive db.
std::unique_ptr<ResultCursor> OpenActivityQuery(Database& db, const ActivityRequest& request);

// The program's process name, description and icon: one row, or none.
std::unique_ptr<ResultCursor> OpenProgramInfo(Database& db, std::uint32_t programId);

}  // namespace qv::server
