#include "qvservice/query/activity_sql.h"

#include "qvservice/model/store_schema.h"
#include "qvservice/model/time_buckets.h"

namespace qv::server {

namespace {

struct Entity {
    const char* table;
    const char* nameColumn;
    const char* partColumn;
    const char* combination;  // the entity with the user, computer and program it was used with
};

Entity EntityOf(QueryKind kind) {
    switch (kind) {
        case QueryKind::Users: return {"users", "name", "u", "u, c, p"};
        case QueryKind::Computers: return {"computers", "name", "c", "c, u, p"};
        case QueryKind::Programs: return {"programs", "process_name", "p", "p, u, c"};
        case QueryKind::ProgramDetails: return {"window_titles", "title", "w", "w, u, c, p"};
    }
    return {"users", "name", "u", "u, c, p"};
}

class Builder {
public:
    explicit Builder(const ActivityRequest& request)
        : request_(request), windows_(request.kind == QueryKind::ProgramDetails) {}

    // The value's placeholder. Called a statement at a time, so that the
    // numbers follow the text: the operands of + are evaluated in no set order.
    std::string Param(std::int64_t value) {
        sql_.parameters.emplace_back(value);
        return "?" + std::to_string(sql_.parameters.size());
    }

    // The request's id filters, each bound once per source.
    std::string Filters() {
        std::string where;
        if (request_.userId != 0) where += " AND user_id = " + Param(request_.userId);
        if (request_.computerId != 0) where += " AND computer_id = " + Param(request_.computerId);
        if (request_.programId != 0) where += " AND program_id = " + Param(request_.programId);
        return where;
    }

    std::string Rollup(const BucketLevel& level, const BucketRange* range) {
        std::string sql = std::string("SELECT user_id, computer_id, program_id") + (windows_ ? ", window_id" : "") +
                          ", time_ms, keyboard_events, mouse_events FROM " + level.name +
                          (windows_ ? "_windows" : "_programs") + " WHERE TRUE";
        if (range) {
            const std::string first = Param(range->first);
            const std::string last = Param(range->last);
            sql += " AND bucket >= " + first + " AND bucket < " + last;
        }
        return sql + Filters();
    }

    // A record's part inside [from, to), and its events in the same share, of
    // the records that started at most maxDurationMs before the piece. lengths
    // narrows them to short or long records, each found through its own index.
    std::string Raw(const MsRange& piece, std::int64_t maxDurationMs, const std::string& lengths) {
        const std::string from = Param(piece.from);
        const std::string to = Param(piece.to);
        const std::string earliest = Param(piece.from - maxDurationMs);
        const std::string end = "start_ms + duration_ms";
        const std::string part = "(CASE WHEN " + to + " < " + end + " THEN " + to + " ELSE " + end +
                                 " END - CASE WHEN " + from + " > start_ms THEN " + from + " ELSE start_ms END)";
        const auto share = [&](const char* column) {
            const std::string events = std::string("CAST(") + column + " AS DOUBLE PRECISION)";
            return "CASE WHEN duration_ms = 0 THEN " + events + " ELSE " + events + " * " + part + " / duration_ms END";
        };
        return std::string("SELECT user_id, computer_id, program_id") + (windows_ ? ", window_id" : "") + ", " + part +
               ", " + share("keyboard_events") + ", " + share("mouse_events") + " FROM activity WHERE " + lengths +
               "start_ms >= " + earliest + " AND start_ms < " + to + " AND (start_ms + duration_ms > " + from +
               " OR (duration_ms = 0 AND start_ms >= " + from + "))" + Filters();
    }

    ActivitySql Parts(const std::vector<std::string>& sources) {
        for (const auto& source : sources) sql_.text += (sql_.text.empty() ? "" : " UNION ALL ") + source;
        return std::move(sql_);
    }

    ActivitySql Finish(const std::vector<std::string>& sources) {
        const Entity entity = EntityOf(request_.kind);
        std::string parts;
        for (const auto& source : sources) parts += (parts.empty() ? "" : " UNION ALL ") + source;
        // Summed per combination first, so that the distinct counts look at a
        // few hundred combinations rather than every rollup row.
        sql_.text =
            std::string("WITH parts(u, c, p") + (windows_ ? ", w" : "") + ", ms, kb, mo) AS (" + parts +
            "), combinations AS (SELECT " + entity.partColumn +
            " AS k, u, c, p, CAST(sum(ms) AS BIGINT) AS ms, "
            "sum(kb) AS kb, sum(mo) AS mo FROM parts GROUP BY " +
            entity.combination + ") SELECT e.id, e." + entity.nameColumn +
            ", a.nc, a.nu, a.np, a.ms, a.kb, a.mo FROM (SELECT k, "
            "count(DISTINCT c) AS nc, count(DISTINCT u) AS nu, count(DISTINCT p) AS np, "
            "CAST(sum(ms) AS BIGINT) AS ms, sum(kb) AS kb, sum(mo) AS mo FROM combinations GROUP BY k) a JOIN " +
            entity.table + " e ON e.id = a.k ORDER BY e.id";
        return std::move(sql_);
    }

private:
    const ActivityRequest& request_;
    const bool windows_;
    ActivitySql sql_;
};

}  // namespace

namespace {

std::vector<std::string> Sources(Builder& builder, const ActivityRequest& request, const RecordExtent& extent) {
    std::vector<std::string> sources;
    if (!request.period) {
        // Every record lies whole in the buckets of any one level.
        sources.push_back(builder.Rollup(LargestLevel(request.kind == QueryKind::ProgramDetails), nullptr));
        return sources;
    }
    const PeriodPlan plan = PlanPeriod(*request.period, request.kind == QueryKind::ProgramDetails, extent.latestEndMs);
    for (std::size_t level = 0; level < kBucketLevelCount; ++level) {
        for (const auto& range : plan.buckets[level]) sources.push_back(builder.Rollup(kBucketLevels[level], &range));
    }
    // The literal terms match the long records' partial index, as SQLite needs to use it.
    const std::string limit = std::to_string(kLongRecordMs);
    for (const auto& piece : plan.raw) {
        if (extent.maxDurationMs <= kLongRecordMs) {
            sources.push_back(builder.Raw(piece, extent.maxDurationMs, ""));
        } else {
            sources.push_back(builder.Raw(piece, kLongRecordMs, "duration_ms <= " + limit + " AND "));
            sources.push_back(builder.Raw(piece, extent.maxDurationMs, "duration_ms > " + limit + " AND "));
        }
    }
    return sources;
}

}  // namespace

ActivitySql BuildActivitySql(const ActivityRequest& request, const RecordExtent& extent) {
    Builder builder(request);
    const std::vector<std::string> sources = Sources(builder, request, extent);
    return builder.Finish(sources);
}

ActivitySql BuildActivityParts(const ActivityRequest& request, const RecordExtent& extent) {
    Builder builder(request);
    const std::vector<std::string> sources = Sources(builder, request, extent);
    return builder.Parts(sources);
}

}  // namespace qv::server
