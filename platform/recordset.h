#pragma once
// Recordset: one answer of the service held in memory, standing in for the
// data-access library's record set. Named, typed fields; values as variants;
// a sort text applied on this side; a forward cursor with an end test; an
// open or closed state. Failures are reported as HRESULTs (the data-access
// library's own codes where it has one), with a text for the last failure in
// ErrorDescription(); nothing here throws for bad input. For the UI thread
// only.
#include "platform/hresult.h"
#include "platform/variant.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The data-access library's type numbers of fields.
inline constexpr int adInteger = 3;
inline constexpr int adDouble = 5;
inline constexpr int adDate = 7;
inline constexpr int adBSTR = 8;
inline constexpr int adDecimal = 14;
inline constexpr int adUnsignedInt = 19;
inline constexpr int adBigInt = 20;
inline constexpr int adBinary = 128;
inline constexpr int adChar = 129;
inline constexpr int adWChar = 130;
inline constexpr int adNumeric = 131;
inline constexpr int adDBTimeStamp = 135;
inline constexpr int adVarChar = 200;
inline constexpr int adLongVarChar = 201;
inline constexpr int adVarWChar = 202;
inline constexpr int adLongVarWChar = 203;
inline constexpr int adVarBinary = 204;
inline constexpr int adLongVarBinary = 205;

struct FieldDef {
    std::string name;
    int type = 0;                  // adInteger, adVarWChar, ...
    std::int64_t definedSize = 0;  // as declared by the service
};

class Recordset;

// One column of a record set; its value is that of the current row. A Field
// is valid while its record set lives. A default-constructed Field is empty:
// its calls give E_POINTER.
class Field {
public:
    Field() = default;

    bool IsEmpty() const { return recordset_ == nullptr; }
    const std::string& Name() const;
    int Type() const;
    std::int64_t DefinedSize() const;
    HRESULT GetValue(Variant& out) const;
    // The current value in place, without a copy; valid until the cursor
    // moves or the record set changes.
    HRESULT GetValueRef(const Variant*& out) const;
    // Bytes of the current value: text as stored by the field's type (one
    // byte per UTF-8 unit for the narrow types adChar, adVarChar,
    // adLongVarChar; two per UTF-16 unit otherwise), a byte array's length,
    // the size of a number; 0 for empty and null.
    HRESULT GetActualSize(std::int64_t& out) const;

private:
    friend class Recordset;
    Field(const Recordset* recordset, std::size_t column) : recordset_(recordset), column_(column) {}

    const Recordset* recordset_ = nullptr;  // not owned
    std::size_t column_ = 0;
};

class Recordset {
public:
    explicit Recordset(std::vector<FieldDef> fields);

    // Appends a row (E_INVALIDARG unless it holds one value per field). Rows
    // added after SetSort are visited last until the next SetSort.
    HRESULT AddRow(std::vector<Variant> values);
    void Reserve(std::size_t rows);

    bool IsOpen() const { return open_; }
    // Drops the rows; afterwards calls fail with ADO_E_OBJECT_CLOSED.
    void Close();
    std::size_t FieldCount() const { return fields_.size(); }
    std::size_t RecordCount() const { return rowCount_; }

    // By name, ignoring ASCII case ("Id" finds "ID"); ADO_E_ITEM_NOT_FOUND
    // when absent.
    HRESULT GetField(std::string_view name, Field& out) const;
    HRESULT GetField(std::size_t index, Field& out) const;

    // One or more comma-separated keys "Field [Asc|Desc]" (Asc when left
    // out; a name may be bracketed, "[Time Spent] Desc"). The sort is stable;
    // text compares by the user's locale (LC_COLLATE) ignoring case, numbers
    // by value, empty and null before everything in ascending order. An empty
    // text restores the order of arrival. The cursor moves to the first row.
    // Unknown field: ADO_E_ITEM_NOT_FOUND; malformed text:
    // ADO_E_INVALID_ARGUMENT; the previous order then stays.
    HRESULT SetSort(std::string_view sort);
    const std::string& Sort() const { return sort_; }

    HRESULT MoveFirst();
    // ADO_E_NO_CURRENT_RECORD when already at the end.
    HRESULT MoveNext();
    // True after the last row, and when closed.
    bool IsEOF() const { return !open_ || position_ >= rowCount_; }

    const std::string& ErrorDescription() const { return error_; }

private:
    friend class Field;
    HRESULT Fail(HRESULT hr, std::string description) const;
    HRESULT CurrentValue(std::size_t column, const Variant*& out) const;

    std::vector<FieldDef> fields_;
    std::vector<Variant> values_;  // row after row, FieldCount() values each
    std::size_t rowCount_ = 0;
    std::vector<std::uint32_t> order_;  // rows in visiting order; empty: order of arrival
    std::size_t position_ = 0;
    bool open_ = true;
    std::string sort_;
    mutable std::string error_;
};
