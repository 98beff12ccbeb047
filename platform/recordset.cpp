#include "platform/recordset.h"

#include "platform/recordset_sort.h"
#include "platform/utf.h"

#include <limits>

namespace {

constexpr std::int64_t kFourBytes = 4;
constexpr std::int64_t kEightBytes = 8;
constexpr std::int64_t kDecimalBytes = 16;

bool IsNarrowText(int type) { return type == adChar || type == adVarChar || type == adLongVarChar; }

const std::string kNoName;

// Row numbers are kept as 32-bit values in the sorted order.
constexpr std::size_t kMaxRows = std::numeric_limits<std::uint32_t>::max();

}  // namespace

const std::string& Field::Name() const { return recordset_ ? recordset_->fields_[column_].name : kNoName; }

int Field::Type() const { return recordset_ ? recordset_->fields_[column_].type : 0; }

std::int64_t Field::DefinedSize() const { return recordset_ ? recordset_->fields_[column_].definedSize : 0; }

HRESULT Field::GetValue(Variant& out) const {
    const Variant* value = nullptr;
    HRESULT hr = GetValueRef(value);
    if (Succeeded(hr)) out = *value;
    return hr;
}

HRESULT Field::GetValueRef(const Variant*& out) const {
    if (!recordset_) return E_POINTER;
    return recordset_->CurrentValue(column_, out);
}

HRESULT Field::GetActualSize(std::int64_t& out) const {
    if (!recordset_) return E_POINTER;
    const Variant* value = nullptr;
    HRESULT hr = recordset_->CurrentValue(column_, value);
    if (Failed(hr)) return hr;
    switch (value->Type()) {
        case VT_EMPTY:
        case VT_NULL: out = 0; break;
        case VT_BSTR:
            out = IsNarrowText(Type()) ? static_cast<std::int64_t>(Utf16ToUtf8(value->Text().Text()).size())
                                       : static_cast<std::int64_t>(value->Text().Length() * 2);
            break;
        case VT_BYTE_ARRAY: out = static_cast<std::int64_t>(value->ByteArray().size()); break;
        case VT_R8:
        case VT_DATE:
        case VT_I8: out = kEightBytes; break;
        case VT_DECIMAL: out = kDecimalBytes; break;
        default: out = kFourBytes; break;
    }
    return S_OK;
}

Recordset::Recordset(std::vector<FieldDef> fields) : fields_(std::move(fields)) {}

HRESULT Recordset::Fail(HRESULT hr, std::string description) const {
    error_ = std::move(description);
    return hr;
}

HRESULT Recordset::AddRow(std::vector<Variant> values) {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    if (values.size() != fields_.size())
        return Fail(E_INVALIDARG, "A row of " + std::to_string(values.size()) + " values does not fit " +
                                      std::to_string(fields_.size()) + " fields.");
    if (rowCount_ >= kMaxRows) return Fail(E_OUTOFMEMORY, "The record set cannot hold more rows.");
    for (Variant& v : values) values_.push_back(std::move(v));
    if (!order_.empty()) order_.push_back(static_cast<std::uint32_t>(rowCount_));
    ++rowCount_;
    return S_OK;
}

void Recordset::Reserve(std::size_t rows) { values_.reserve(rows * fields_.size()); }

void Recordset::Close() {
    open_ = false;
    values_ = {};
    order_ = {};
    rowCount_ = 0;
    position_ = 0;
}

HRESULT Recordset::GetField(std::string_view name, Field& out) const {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    std::size_t index = FindField(fields_, name);
    if (index == fields_.size())
        return Fail(ADO_E_ITEM_NOT_FOUND, "The field \"" + std::string(name) + "\" is not in the record set.");
    out = Field(this, index);
    return S_OK;
}

HRESULT Recordset::GetField(std::size_t index, Field& out) const {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    if (index >= fields_.size())
        return Fail(ADO_E_ITEM_NOT_FOUND, "There is no field number " + std::to_string(index) + ".");
    out = Field(this, index);
    return S_OK;
}

HRESULT Recordset::SetSort(std::string_view sort) {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    std::vector<SortKey> keys;
    std::string error;
    HRESULT hr = ParseSortText(sort, fields_, keys, error);
    if (Failed(hr)) return Fail(hr, std::move(error));
    order_ = keys.empty() ? std::vector<std::uint32_t>() : SortRows(values_, fields_.size(), rowCount_, keys);
    sort_ = std::string(sort);
    position_ = 0;
    return S_OK;
}

HRESULT Recordset::MoveFirst() {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    position_ = 0;
    return S_OK;
}

HRESULT Recordset::MoveNext() {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    if (position_ >= rowCount_) return Fail(ADO_E_NO_CURRENT_RECORD, "The cursor is already after the last row.");
    ++position_;
    return S_OK;
}

HRESULT Recordset::CurrentValue(std::size_t column, const Variant*& out) const {
    if (!open_) return Fail(ADO_E_OBJECT_CLOSED, "The record set is closed.");
    if (position_ >= rowCount_)
        return Fail(ADO_E_NO_CURRENT_RECORD, "There is no current row: the cursor is after the last row.");
    std::size_t row = order_.empty() ? position_ : order_[position_];
    out = &values_[row * fields_.size() + column];
    return S_OK;
}
