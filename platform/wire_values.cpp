#include "platform/wire_values.h"

#include "platform/utf.h"
#include "proto/quorvis.pb.h"

#include <cmath>
#include <limits>

namespace {

using quorvis::v1::Value;

// "-12.345" -> sign, digits "12345", exponent -3.
std::optional<Decimal> ParseDecimalText(const std::string& text) {
    std::string_view rest = text;
    bool negative = false;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    std::string digits;
    int exponent = 0;
    bool point = false;
    for (char c : rest) {
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits.push_back(c);
            if (point) --exponent;
        } else {
            return std::nullopt;
        }
    }
    if (digits.empty()) return std::nullopt;
    return Decimal::FromDigits(negative, digits, exponent);
}

// The value type each wire field type holds; empty and null fit any field.
// Field types outside the contract are not checked.
std::optional<unsigned> TagOfField(int adoType) {
    switch (adoType) {
        case adInteger: return VT_I4;
        case adDouble: return VT_R8;
        case adDate: return VT_DATE;
        case adDecimal: return VT_DECIMAL;
        case adBigInt: return VT_I8;
        case adVarWChar: return VT_BSTR;
        case adLongVarBinary: return VT_ARRAY | VT_UI1;
        default: return std::nullopt;
    }
}

}  // namespace

HRESULT DecodeWireValue(const Value& value, Variant& out, std::string& error) {
    const auto data = value.data_case();
    const bool integer = data == Value::kInteger;
    const bool unsignedInteger = data == Value::kUnsignedInteger;
    const auto fitsInt32 = [&] {
        return value.integer() >= std::numeric_limits<std::int32_t>::min() &&
               value.integer() <= std::numeric_limits<std::int32_t>::max();
    };
    const auto fitsUInt32 = [&] { return value.unsigned_integer() <= std::numeric_limits<std::uint32_t>::max(); };
    bool ok = true;
    switch (value.tag()) {
        case VT_EMPTY: out = Variant(); break;
        case VT_NULL: out = Variant::Null(); break;
        case VT_I4:
            if ((ok = integer && fitsInt32())) out = Variant::I4(static_cast<std::int32_t>(value.integer()));
            break;
        case VT_INT:
            if ((ok = integer && fitsInt32())) out = Variant::Int(static_cast<std::int32_t>(value.integer()));
            break;
        case VT_I8:
            if ((ok = integer)) out = Variant::I8(value.integer());
            break;
        case VT_UI4:
            if ((ok = unsignedInteger && fitsUInt32()))
                out = Variant::UI4(static_cast<std::uint32_t>(value.unsigned_integer()));
            break;
        case VT_UINT:
            if ((ok = unsignedInteger && fitsUInt32()))
                out = Variant::UInt(static_cast<std::uint32_t>(value.unsigned_integer()));
            break;
        case VT_R8:
        case VT_DATE:
            if ((ok = data == Value::kReal) && !std::isfinite(value.real())) {
                error = "value of type " + std::to_string(value.tag()) + " is not a finite number";
                return DISP_E_OVERFLOW;
            }
            if (ok) out = value.tag() == VT_R8 ? Variant::R8(value.real()) : Variant::Date(value.real());
            break;
        case VT_BSTR:
            // Titles need not be valid UTF-8: bad sequences show as U+FFFD
            // instead of losing the whole answer.
            if ((ok = data == Value::kBytes)) out = Variant::Str(BStr(Utf8ToUtf16(value.bytes())));
            break;
        case VT_DECIMAL: {
            std::optional<Decimal> decimal;
            if (data == Value::kDecimal) decimal = ParseDecimalText(value.decimal());
            if ((ok = decimal.has_value())) out = Variant::Dec(*decimal);
            break;
        }
        case VT_ARRAY | VT_UI1:
            if ((ok = data == Value::kBytes)) {
                const std::string& bytes = value.bytes();
                out = Variant::Bytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            }
            break;
        default: error = "unsupported value type " + std::to_string(value.tag()); return DISP_E_BADVARTYPE;
    }
    if (!ok) {
        error = "value of type " + std::to_string(value.tag()) + " carries no matching data";
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT WireAnswerBuilder::Start(const quorvis::v1::ResultHeader& header, std::string& description) {
    if (header.hresult() < 0) {
        description = header.description();
        return header.hresult();
    }
    std::vector<FieldDef> fields;
    fields.reserve(static_cast<std::size_t>(header.fields_size()));
    for (const auto& field : header.fields())
        fields.push_back(FieldDef{field.name(), field.ado_type(), field.defined_size()});
    fields_ = fields;
    recordset_ = std::make_unique<Recordset>(std::move(fields));
    return header.hresult();
}

HRESULT WireAnswerBuilder::AddRow(const quorvis::v1::Row& row, std::string& error) {
    if (!recordset_) {
        error = "rows arrived before the field list";
        return E_UNEXPECTED;
    }
    if (static_cast<std::size_t>(row.values_size()) != recordset_->FieldCount()) {
        error = "a row holds " + std::to_string(row.values_size()) + " values for " +
                std::to_string(recordset_->FieldCount()) + " fields";
        return E_INVALIDARG;
    }
    std::vector<Variant> values(recordset_->FieldCount());
    for (int i = 0; i < row.values_size(); ++i) {
        const auto& value = row.values(i);
        const auto expected = TagOfField(fields_[static_cast<std::size_t>(i)].type);
        if (expected && value.tag() != *expected && value.tag() != VT_EMPTY && value.tag() != VT_NULL) {
            error = "field " + fields_[static_cast<std::size_t>(i)].name + " holds a value of type " +
                    std::to_string(value.tag()) + " where type " + std::to_string(*expected) + " belongs";
            return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = DecodeWireValue(value, values[static_cast<std::size_t>(i)], error);
        if (hr < 0) return hr;
    }
    return recordset_->AddRow(std::move(values));
}
