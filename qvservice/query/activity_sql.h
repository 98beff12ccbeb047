// The SQL text and parameters of one activity query: a union of the rollup
// rows and raw record pieces that make up the period, grouped by the entity
// of the request's kind.
#pragma once

#include "qvservice/model/store_schema.h"
#include "qvservice/query/query_request.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace qv::server {

struct ActivitySql {
    std::string text;
    std::vector<std::variant<std::int64_t, double>> parameters;
};

// Result columns: id, name, computers, users, processes, time ms, keyboard,
// mouse. The longest record stored bounds the raw scan of the period's ends
// (for records up to a day long, a day does); the records' latest end lets a
// period up to now be read from buckets that reach past it.
ActivitySql BuildActivitySql(const ActivityRequest& request, const RecordExtent& extent);
// The same rollup rows and record pieces, ungrouped: user, computer, program,
// (window title,) time ms, keyboard, mouse.
ActivitySql BuildActivityParts(const ActivityRequest& request, const RecordExtent& extent);

}  // namespace qv::server
