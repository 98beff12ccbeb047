#pragma once
// RecordsetReader: the one way the loaders and reports walk a result set.
// It owns the result set, applies a sort, moves a forward cursor and, while
// the result-set trace is on, writes every row it reaches to TraceStream.
// Every failure raises DataAccessError.
#include "platform/recordset.h"
#include "service/qv_query.h"

#include <cstdint>
#include <string>
#include <string_view>

class RecordsetReader {
public:
    explicit RecordsetReader(RecordsetPtr recordset);

    void SetSort(std::string_view sort);
    Field GetField(std::string_view name) const;
    bool IsEOF() const;
    void MoveNext();

    static constexpr std::string_view kTracePrefix = "[SQL] ";

private:
    Recordset& Checked() const;
    void TraceCurrentRow() const;

    RecordsetPtr recordset_;
    bool trace_;
};

// The current value of a field as text: empty for empty and null.
std::u16string GetFieldString(const Field& field);
// As a 32-bit integer: 0 for empty and null; reals truncated toward zero.
std::int32_t GetFieldInt(const Field& field);
// As a double: 0.0 for empty and null.
double GetFieldDouble(const Field& field);
