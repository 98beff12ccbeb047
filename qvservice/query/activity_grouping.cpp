#include "qvservice/query/activity_grouping.h"

#include "qvservice/query/activity_sql.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <variant>

namespace qv::server {

namespace {

// The entity of the answer's rows first, then the user, computer and
// program it was used with.
using Combination = std::array<std::int64_t, 4>;

struct CombinationHash {
    std::size_t operator()(const Combination& key) const {
        std::size_t hash = 0;
        for (const std::int64_t part : key) hash = hash * 0x9E3779B97F4A7C15ULL + static_cast<std::size_t>(part);
        return hash;
    }
};

struct Sums {
    std::int64_t timeMs = 0;
    double keyboardEvents = 0;
    double mouseEvents = 0;
};

// Column of the parts' rows (user, computer, program, window) that the kind's rows are of.
int EntityColumn(QueryKind kind) {
    switch (kind) {
        case QueryKind::Users: return 0;
        case QueryKind::Computers: return 1;
        case QueryKind::Programs: return 2;
        case QueryKind::ProgramDetails: return 3;
    }
    return 0;
}

std::string NamesSql(const ActivityRequest& request) {
    switch (request.kind) {
        case QueryKind::Users: return "SELECT id, name FROM users";
        case QueryKind::Computers: return "SELECT id, name FROM computers";
        case QueryKind::Programs: return "SELECT id, process_name FROM programs";
        case QueryKind::ProgramDetails:
            return request.programId != 0 ? "SELECT id, title FROM window_titles WHERE program_id = ?1"
                                          : "SELECT id, title FROM window_titles";
    }
    return {};
}

std::vector<std::pair<Combination, Sums>> SumCombinations(Database& db, const ActivityRequest& request,
                                                          const RecordExtent& extent) {
    const ActivitySql sql = BuildActivityParts(request, extent);
    Statement parts(db, sql.text);
    for (std::size_t i = 0; i < sql.parameters.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        std::visit([&](auto value) { parts.Bind(index, value); }, sql.parameters[i]);
    }
    const bool windows = request.kind == QueryKind::ProgramDetails;
    const int entity = EntityColumn(request.kind);
    const int sums = windows ? 4 : 3;
    std::unordered_map<Combination, Sums, CombinationHash> combinations;
    while (parts.Step()) {
        Sums& total = combinations[{parts.Int64(entity), parts.Int64(0), parts.Int64(1), parts.Int64(2)}];
        total.timeMs += parts.Int64(sums);
        total.keyboardEvents += parts.Double(sums + 1);
        total.mouseEvents += parts.Double(sums + 2);
    }
    // In key order, so that the events add up in the same order every time.
    std::vector<std::pair<Combination, Sums>> sorted(combinations.begin(), combinations.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return sorted;
}

std::int64_t CountDistinct(std::vector<std::int64_t>& ids) {
    std::sort(ids.begin(), ids.end());
    return std::unique(ids.begin(), ids.end()) - ids.begin();
}

}  // namespace

std::vector<ActivityRow> GroupActivity(Database& db, const ActivityRequest& request, const RecordExtent& extent) {
    const auto combinations = SumCombinations(db, request, extent);
    std::unordered_map<std::int64_t, ActivityRow> rows;
    for (auto first = combinations.begin(); first != combinations.end();) {
        const std::int64_t id = first->first[0];
        auto last = first;
        ActivityRow row;
        std::array<std::vector<std::int64_t>, 3> used;  // users, computers, programs
        for (; last != combinations.end() && last->first[0] == id; ++last) {
            for (std::size_t part = 0; part < used.size(); ++part) used[part].push_back(last->first[part + 1]);
            row.timeMs += last->second.timeMs;
            row.keyboardEvents += last->second.keyboardEvents;
            row.mouseEvents += last->second.mouseEvents;
        }
        row.id = id;
        row.users = CountDistinct(used[0]);
        row.computers = CountDistinct(used[1]);
        row.processes = CountDistinct(used[2]);
        rows.emplace(id, std::move(row));
        first = last;
    }
    std::vector<ActivityRow> answer;
    answer.reserve(rows.size());
    Statement names(db, NamesSql(request));
    if (request.kind == QueryKind::ProgramDetails && request.programId != 0) {
        names.Bind(1, static_cast<std::int64_t>(request.programId));
    }
    // As a join would: an id without a name row is no row of the answer.
    while (names.Step()) {
        const auto row = rows.find(names.Int64(0));
        if (row == rows.end()) continue;
        row->second.name = names.Bytes(1);
        answer.push_back(std::move(row->second));
    }
    std::sort(answer.begin(), answer.end(), [](const ActivityRow& a, const ActivityRow& b) { return a.id < b.id; });
    return answer;
}

}  // namespace qv::server
