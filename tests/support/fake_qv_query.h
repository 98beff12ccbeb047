#pragma once
// A fake IQVQuery for the document's and the loaders' rules: canned answers by request, every request recorded,
// failures on demand. The state is shared, so a test still sees it after the document has released the fake.
#include "service/qv_query.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace qv::test {

struct FakeTable {
    std::vector<FieldDef> fields;
    std::vector<std::vector<Variant>> rows;
};

struct FakeServiceState {
    using Key = std::tuple<std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t>;

    std::map<Key, FakeTable> answers;             // by kind, computer, user, program
    std::map<std::uint32_t, FakeTable> programs;  // program information by id
    std::vector<QueryRequest> queries;
    std::vector<ProgramInfoRequest> infoQueries;
    HRESULT queryStatus = S_OK;
    HRESULT infoStatus = S_OK;
    // Runs in place of the program-information answer when set; its status is the call's (a stalled call, see
    // stalled_call.h).
    std::function<HRESULT()> infoCall;
    int alive = 0;  // fakes not yet destroyed

    void Answer(std::int32_t kind, std::uint32_t computer, std::uint32_t user, std::uint32_t program, FakeTable table) {
        answers[{kind, computer, user, program}] = std::move(table);
    }
    // The last request's key and period; kind -1 when nothing was asked.
    std::tuple<std::int32_t, std::uint32_t, std::uint32_t, std::uint32_t, double, double> LastQuery() const {
        if (queries.empty()) return {-1, 0, 0, 0, 0, 0};
        const QueryRequest& q = queries.back();
        return {q.kind, q.computerId, q.userId, q.programId, q.periodStart, q.periodEnd};
    }
};

inline RecordsetPtr MakeRecordset(const FakeTable& table) {
    auto recordset = std::make_unique<Recordset>(table.fields);
    for (const auto& row : table.rows) recordset->AddRow(row);
    return recordset;
}

// A row of a users, computers or programs answer.
inline FakeTable EntityTable(const char* countField, std::vector<std::tuple<Variant, Variant, Variant>> rows) {
    FakeTable table{{{"ID", adInteger, 4}, {"Name", adVarWChar, 255}, {countField, adInteger, 4}}, {}};
    for (auto& [id, name, count] : rows) table.rows.push_back({id, name, count});
    return table;
}

inline FakeTable ProgramInfoTable(std::u16string description, std::u16string process, Variant icon) {
    return {{{"Description", adVarWChar, 255}, {"ProcessName", adVarWChar, 255}, {"Icon", adLongVarBinary, 0}},
            {{Variant::Str(BStr(description)), Variant::Str(BStr(process)), std::move(icon)}}};
}

class FakeQVQuery final : public IQVQuery {
public:
    explicit FakeQVQuery(std::shared_ptr<FakeServiceState> state) : state_(std::move(state)) { ++state_->alive; }
    ~FakeQVQuery() override { --state_->alive; }

    HRESULT Query(const QueryRequest& request, RecordsetPtr& result) override {
        state_->queries.push_back(request);
        if (Failed(state_->queryStatus)) return state_->queryStatus;
        auto found = state_->answers.find({request.kind, request.computerId, request.userId, request.programId});
        // An answer without rows still has the fields a loader asks for.
        FakeTable empty = EntityTable("Computers", {});
        for (const char* count : {"Users", "Processes"}) empty.fields.push_back({count, adInteger, 4});
        result = MakeRecordset(found != state_->answers.end() ? found->second : empty);
        return S_OK;
    }

    HRESULT QueryProgramInfo(const ProgramInfoRequest& request, RecordsetPtr& result) override {
        state_->infoQueries.push_back(request);
        if (state_->infoCall) return state_->infoCall();
        if (Failed(state_->infoStatus)) return state_->infoStatus;
        auto found = state_->programs.find(request.programId);
        result = MakeRecordset(found != state_->programs.end() ? found->second
                                                               : FakeTable{ProgramInfoTable({}, {}, {}).fields, {}});
        return S_OK;
    }

    std::string ErrorDescription() const override { return "the fake service failed"; }

private:
    std::shared_ptr<FakeServiceState> state_;
};

inline Variant Text(std::u16string_view text) { return Variant::Str(BStr(text)); }

// A row of a report's answer; the time may be any Variant, a null one too.
struct ReportRow {
    std::int32_t id;
    std::u16string name;
    Variant time;
    double keyboard = 0;
    double mouse = 0;
};

inline FakeTable ReportTable(const std::vector<ReportRow>& rows) {
    FakeTable table{{{"Id", adInteger, 4}, {"Name", adVarWChar, 255}}, {}};
    for (const char* count : {"TimeSpent", "KeyboardEvents", "MouseEvents"})
        table.fields.push_back({count, adDouble, 8});
    for (const ReportRow& row : rows)
        table.rows.push_back(
            {Variant::I4(row.id), Text(row.name), row.time, Variant::R8(row.keyboard), Variant::R8(row.mouse)});
    return table;
}

}  // namespace qv::test
