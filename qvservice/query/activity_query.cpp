#include "qvservice/query/activity_query.h"

#include "proto/qv_contract.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/query/activity_grouping.h"
#include "qvservice/query/activity_sql.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace qv::server {

namespace {

using contract::kAdoBigInt;
using contract::kAdoDouble;
using contract::kAdoInteger;
using contract::kAdoLongVarBinary;
using contract::kAdoVarWChar;

// Text fields declare the longest text the store accepts; binary fields
// ADO's size of a long binary.
constexpr int kTextSize = 65535;
constexpr int kLongBinarySize = std::numeric_limits<std::int32_t>::max();

constexpr std::array<FieldSpec, 8> kActivityFields{{
    {"ID", kAdoInteger, 4},
    {"Name", kAdoVarWChar, kTextSize},
    {"Computers", kAdoInteger, 4},
    {"Users", kAdoInteger, 4},
    {"Processes", kAdoInteger, 4},
    {"TimeSpent", kAdoBigInt, 8},
    {"KeyboardEvents", kAdoDouble, 8},
    {"MouseEvents", kAdoDouble, 8},
}};

constexpr std::array<FieldSpec, 4> kProgramInfoFields{{
    {"ID", kAdoInteger, 4},
    {"ProcessName", kAdoVarWChar, kTextSize},
    {"Description", kAdoVarWChar, kTextSize},
    {"Icon", kAdoLongVarBinary, kLongBinarySize},
}};

// Holds a read transaction for the life of the cursor, so that every row
// comes from one snapshot even while an import commits.
class ActivityCursor final : public ResultCursor {
public:
    ActivityCursor(Database& db, const ActivityRequest& request) : transaction_(db, Transaction::Kind::Read) {
        const RecordExtent extent = ReadRecordExtent(db);
        // Nothing lies inside a period that ends before it starts or starts after the records' latest end.
        if (request.period && request.period->from >= std::min(request.period->to, extent.latestEndMs)) return;
        // A title answer reads one program's rows of every user, computer and
        // title: tens of thousands a year, which a database server's distinct
        // counts sort title by title. Sending them to a hash here costs less.
        if (db.Types().groupsInService || request.kind == QueryKind::ProgramDetails) {
            grouped_ = GroupActivity(db, request, extent);
            return;
        }
        const ActivitySql sql = BuildActivitySql(request, extent);
        statement_.emplace(db, sql.text);
        for (std::size_t i = 0; i < sql.parameters.size(); ++i) {
            const int index = static_cast<int>(i + 1);
            std::visit([&](auto value) { statement_->Bind(index, value); }, sql.parameters[i]);
        }
    }

    std::span<const FieldSpec> Fields() const override { return kActivityFields; }

    bool Next(quorvis::v1::Row& row) override {
        ActivityRow answer;
        if (next_ < grouped_.size()) {
            answer = std::move(grouped_[next_++]);
        } else if (statement_ && statement_->Step()) {
            const Statement& s = *statement_;
            answer = {s.Int64(0), std::string(s.Bytes(1)), s.Int64(2), s.Int64(3), s.Int64(4), s.Int64(5), s.Double(6),
                      s.Double(7)};
        } else {
            return false;
        }
        AddInt32(row, answer.id);
        AddText(row, answer.name);
        AddInt32(row, answer.computers);
        AddInt32(row, answer.users);
        AddInt32(row, answer.processes);
        AddInt64(row, answer.timeMs);
        AddDouble(row, answer.keyboardEvents);
        AddDouble(row, answer.mouseEvents);
        return true;
    }

private:
    Transaction transaction_;
    std::optional<Statement> statement_;  // the engine's grouped answer, or
    std::vector<ActivityRow> grouped_;    // the service's
    std::size_t next_ = 0;
};

class ProgramInfoCursor final : public ResultCursor {
public:
    ProgramInfoCursor(Database& db, std::uint32_t programId)
        : statement_(db, "SELECT id, process_name, description, icon FROM programs WHERE id = ?1") {
        statement_.Bind(1, static_cast<std::int64_t>(programId));
    }

    std::span<const FieldSpec> Fields() const override { return kProgramInfoFields; }

    bool Next(quorvis::v1::Row& row) override {
        if (!statement_.Step()) return false;
        AddInt32(row, statement_.Int64(0));
        AddText(row, statement_.Bytes(1));
        AddText(row, statement_.Bytes(2));
        const bool noIcon = statement_.IsNull(3);
        AddBytesOrNull(row, noIcon ? std::string_view() : statement_.Bytes(3), noIcon);
        return true;
    }

private:
    Statement statement_;
};

}  // namespace

std::unique_ptr<ResultCursor> OpenActivityQuery(Database& db, const ActivityRequest& request) {
    return std::make_unique<ActivityCursor>(db, request);
}

std::unique_ptr<ResultCursor> OpenProgramInfo(Database& db, std::uint32_t programId) {
    return std::make_unique<ProgramInfoCursor>(db, programId);
}

}  // namespace qv::server
