// An activity answer grouped by the service from the ungrouped rollup rows
// and record pieces, for engines that group slower than a hash does.
#pragma once

#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"
#include "qvservice/store/store_database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv::server {

struct ActivityRow {
    std::int64_t id = 0;
    std::string name;
    std::int64_t computers = 0;
    std::int64_t users = 0;
    std::int64_t processes = 0;
    std::int64_t timeMs = 0;
    double keyboardEvents = 0;
    double mouseEvents = 0;
};

// The rows BuildActivitySql's statement would answer, in the same order (by
// id), inside the caller's read transaction.
std::vector<ActivityRow> GroupActivity(Database& db, const ActivityRequest& request, const RecordExtent& extent);

}  // namespace qv::server
