// The field readers: one field's current value as text, integer or double,
// by the platform's variant conversions.
#include "service/data_access_error.h"
#include "service/recordset_reader.h"

#include <cmath>
#include <limits>

namespace {

const Variant& CurrentValue(const Field& field) {
    if (field.IsEmpty()) throw DataAccessError(E_POINTER, "no such field");
    const Variant* value = nullptr;
    HRESULT status = field.GetValueRef(value);
    if (status < 0) throw DataAccessError(status, "cannot read the field \"" + field.Name() + "\"");
    return *value;
}

Variant Converted(const Variant& value, VARTYPE to) {
    Variant out;
    CheckStatus(ChangeType(value, to, out));
    return out;
}

// Truncation toward zero of a value the integer cannot hold would be
// undefined; such a value is refused instead.
std::int32_t Truncated(double value) {
    double whole = std::trunc(value);
    if (!(whole >= std::numeric_limits<std::int32_t>::min() && whole <= std::numeric_limits<std::int32_t>::max()))
        throw DataAccessError(DISP_E_OVERFLOW, "the value does not fit a 32-bit integer");
    return static_cast<std::int32_t>(whole);
}

// The leading decimal integer of a text ("12.5 kg" -> 12), 0 when none.
std::int32_t LeadingInteger(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > std::int64_t{1} << 32) break;  // already out of range
    }
    value = negative ? -value : value;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw DataAccessError(DISP_E_OVERFLOW, "the value does not fit a 32-bit integer");
    return static_cast<std::int32_t>(value);
}

std::int32_t DecimalToInt(const Variant& value) {
    Variant out;
    if (ChangeType(value, VT_UI4, out) >= 0)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(out.Integer()));
    if (ChangeType(value, VT_R8, out) >= 0) return Truncated(out.Real());
    return LeadingInteger(Converted(value, VT_BSTR).Text().Text());
}

}  // namespace

std::u16string GetFieldString(const Field& field) {
    const Variant& value = CurrentValue(field);
    if (value.IsEmptyOrNull()) return {};
    if (value.Type() == VT_BSTR) return value.Text().Text();
    return Converted(value, VT_BSTR).Text().Text();
}

std::int32_t GetFieldInt(const Field& field) {
    const Variant& value = CurrentValue(field);
    switch (value.Type()) {
        case VT_EMPTY:
        case VT_NULL: return 0;
        case VT_I4: return static_cast<std::int32_t>(value.Integer());
        case VT_R8: return Truncated(value.Real());
        case VT_DECIMAL: return DecimalToInt(value);
        default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(Converted(value, VT_UINT).Integer()));
    }
}

double GetFieldDouble(const Field& field) {
    const Variant& value = CurrentValue(field);
    if (value.IsEmptyOrNull()) return 0.0;
    if (value.Type() == VT_R8) return value.Real();
    if (value.Type() == VT_I8 || value.Type() == VT_I4) return static_cast<double>(value.Integer());
    return Converted(value, VT_R8).Real();
}
