#include "platform/variant.h"

#include "platform/ole_date.h"

#include <cmath>
#include <cwchar>
#include <limits>

Variant Variant::Null() {
    Variant v;
    v.type_ = VT_NULL;
    return v;
}
Variant Variant::I4(std::int32_t value) { return Variant(VT_I4, std::int64_t{value}); }
Variant Variant::UI4(std::uint32_t value) { return Variant(VT_UI4, std::int64_t{value}); }
Variant Variant::I8(std::int64_t value) { return Variant(VT_I8, value); }
Variant Variant::Int(std::int32_t value) { return Variant(VT_INT, std::int64_t{value}); }
Variant Variant::UInt(std::uint32_t value) { return Variant(VT_UINT, std::int64_t{value}); }
Variant Variant::R8(double value) { return Variant(VT_R8, value); }
Variant Variant::Date(double oleDate) { return Variant(VT_DATE, oleDate); }
Variant Variant::Str(BStr value) { return Variant(VT_BSTR, std::move(value)); }
Variant Variant::Dec(Decimal value) { return Variant(VT_DECIMAL, value); }
Variant Variant::Bytes(std::vector<std::uint8_t> value) { return Variant(VT_BYTE_ARRAY, std::move(value)); }

namespace {

constexpr int kDateTextBuffer = 128;
constexpr double kTwoPow63 = 9223372036854775808.0;

bool IsInteger(VARTYPE t) { return t == VT_I4 || t == VT_UI4 || t == VT_I8 || t == VT_INT || t == VT_UINT; }

// Rounds half to even; false when the result is not a 64-bit integer.
bool RoundHalfEven(double x, std::int64_t& out) {
    double r = std::floor(x);
    double diff = x - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    if (!(r >= -kTwoPow63 && r < kTwoPow63))  // NaN fails here too
        return false;
    out = static_cast<std::int64_t>(r);
    return true;
}

HRESULT ToInteger(const Variant& src, const NumberFormat& format, std::int64_t& out) {
    VARTYPE t = src.Type();
    if (t == VT_EMPTY) {
        out = 0;
    } else if (IsInteger(t)) {
        out = src.Integer();
    } else if (t == VT_R8 || t == VT_DATE) {
        if (!RoundHalfEven(src.Real(), out)) return DISP_E_OVERFLOW;
    } else if (t == VT_DECIMAL || t == VT_BSTR) {
        std::optional<Decimal> dec;
        if (t == VT_DECIMAL) {
            dec = src.DecimalValue();
        } else {
            std::optional<NumberText> number = ParseNumberText(src.Text().Text(), format);
            if (!number) return DISP_E_TYPEMISMATCH;
            dec = Decimal::FromDigits(number->negative, number->digits, number->exponent);
        }
        std::optional<std::int64_t> rounded = dec ? dec->RoundToInt64() : std::nullopt;
        if (!rounded) return DISP_E_OVERFLOW;
        out = *rounded;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT ToDouble(const Variant& src, const NumberFormat& format, double& out) {
    VARTYPE t = src.Type();
    if (t == VT_EMPTY)
        out = 0.0;
    else if (IsInteger(t))
        out = static_cast<double>(src.Integer());
    else if (t == VT_R8 || t == VT_DATE)
        out = src.Real();
    else if (t == VT_DECIMAL)
        out = src.DecimalValue().ToDouble();
    else if (t != VT_BSTR)
        return DISP_E_TYPEMISMATCH;
    if (t != VT_BSTR) return S_OK;
    std::optional<NumberText> number = ParseNumberText(src.Text().Text(), format);
    if (!number) return DISP_E_TYPEMISMATCH;
    return NumberTextToDouble(*number, out) == RangeResult::Ok ? S_OK : DISP_E_OVERFLOW;
}

HRESULT ToDecimal(const Variant& src, const NumberFormat& format, Decimal& out) {
    VARTYPE t = src.Type();
    std::optional<Decimal> dec;
    if (t == VT_EMPTY) {
        dec = Decimal();
    } else if (IsInteger(t)) {
        dec = Decimal::FromInt64(src.Integer());
    } else if (t == VT_R8 || t == VT_DATE) {
        dec = Decimal::FromDouble(src.Real());
    } else if (t == VT_DECIMAL) {
        dec = src.DecimalValue();
    } else if (t == VT_BSTR) {
        std::optional<NumberText> number = ParseNumberText(src.Text().Text(), format);
        if (!number) return DISP_E_TYPEMISMATCH;
        dec = Decimal::FromDigits(number->negative, number->digits, number->exponent);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if (!dec) return DISP_E_OVERFLOW;
    out = *dec;
    return S_OK;
}

// Date and time in the locale's forms; the time alone on day zero and the
// date alone at midnight, as the platform writes dates.
HRESULT DateToText(double date, BStr& out) {
    std::optional<std::tm> t = OleDateToTm(date);
    if (!t) return DISP_E_OVERFLOW;
    const wchar_t* pattern = L"%x %X";
    if (std::trunc(date) == 0.0)
        pattern = L"%X";
    else if (t->tm_hour == 0 && t->tm_min == 0 && t->tm_sec == 0)
        pattern = L"%x";
    wchar_t buf[kDateTextBuffer];
    std::size_t n = std::wcsftime(buf, kDateTextBuffer, pattern, &*t);
    out = BStr::FromWide(std::wstring_view(buf, n));
    return S_OK;
}

HRESULT ToText(const Variant& src, const NumberFormat& format, BStr& out) {
    switch (src.Type()) {
        case VT_EMPTY: out = BStr(u""); return S_OK;
        case VT_BSTR: out = src.Text(); return S_OK;
        case VT_R8: out = BStr(FormatDouble(src.Real(), format)); return S_OK;
        case VT_DATE: return DateToText(src.Real(), out);
        case VT_DECIMAL: out = BStr(FormatDecimal(src.DecimalValue(), format)); return S_OK;
        default: break;
    }
    if (!IsInteger(src.Type())) return DISP_E_TYPEMISMATCH;
    out = BStr(FormatInteger(src.Integer()));
    return S_OK;
}

HRESULT ToIntegerTag(const Variant& src, VARTYPE to, const NumberFormat& format, Variant& out) {
    std::int64_t value = 0;
    HRESULT hr = ToInteger(src, format, value);
    if (Failed(hr)) return hr;
    bool isSigned32 = to == VT_I4 || to == VT_INT;
    bool isUnsigned32 = to == VT_UI4 || to == VT_UINT;
    if ((isSigned32 &&
         (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())) ||
        (isUnsigned32 && (value < 0 || value > std::numeric_limits<std::uint32_t>::max())))
        return DISP_E_OVERFLOW;
    switch (to) {
        case VT_I4: out = Variant::I4(static_cast<std::int32_t>(value)); break;
        case VT_INT: out = Variant::Int(static_cast<std::int32_t>(value)); break;
        case VT_UI4: out = Variant::UI4(static_cast<std::uint32_t>(value)); break;
        case VT_UINT: out = Variant::UInt(static_cast<std::uint32_t>(value)); break;
        default: out = Variant::I8(value); break;
    }
    return S_OK;
}

}  // namespace

HRESULT ChangeType(const Variant& src, VARTYPE to, Variant& out, const NumberFormat& format) {
    if (src.Type() == to) {
        out = src;
        return S_OK;
    }
    if (src.Type() == VT_NULL && to != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    HRESULT hr = S_OK;
    switch (to) {
        case VT_EMPTY: out = Variant(); return S_OK;
        case VT_NULL:
        case VT_BYTE_ARRAY: return DISP_E_TYPEMISMATCH;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
        case VT_I8: return ToIntegerTag(src, to, format, out);
        case VT_R8:
        case VT_DATE: {
            if (to == VT_DATE && src.Type() == VT_BSTR) return DISP_E_TYPEMISMATCH;
            double value = 0;
            hr = ToDouble(src, format, value);
            if (Succeeded(hr) && to == VT_DATE && !OleDateToFields(value)) hr = DISP_E_OVERFLOW;
            if (Succeeded(hr)) out = to == VT_DATE ? Variant::Date(value) : Variant::R8(value);
            return hr;
        }
        case VT_BSTR: {
            BStr text;
            hr = ToText(src, format, text);
            if (Succeeded(hr)) out = Variant::Str(std::move(text));
            return hr;
        }
        case VT_DECIMAL: {
            Decimal dec;
            hr = ToDecimal(src, format, dec);
            if (Succeeded(hr)) out = Variant::Dec(dec);
            return hr;
        }
        default: return DISP_E_BADVARTYPE;
    }
}

HRESULT ChangeType(const Variant& src, VARTYPE to, Variant& out) {
    return ChangeType(src, to, out, CurrentNumberFormat());
}
