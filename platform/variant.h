#pragma once
// Variant: the OLE Automation variant of the original platform, a 16-bit type
// tag and a value. Result sets deliver their field values as variants, and
// the readers above convert them with ChangeType under the platform's rules.
#include "foundation/bstr.h"
#include "platform/decimal.h"
#include "platform/hresult.h"
#include "platform/number_text.h"

#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

using VARTYPE = std::uint16_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_DATE = 7;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DECIMAL = 14;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_INT = 22;
inline constexpr VARTYPE VT_UINT = 23;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYTE_ARRAY = VT_ARRAY | VT_UI1;  // 8209

class Variant {
public:
    Variant() = default;  // empty
    static Variant Null();
    static Variant I4(std::int32_t value);
    static Variant UI4(std::uint32_t value);
    static Variant I8(std::int64_t value);
    static Variant Int(std::int32_t value);
    static Variant UInt(std::uint32_t value);
    static Variant R8(double value);
    static Variant Date(double oleDate);
    static Variant Str(BStr value);
    static Variant Dec(Decimal value);
    static Variant Bytes(std::vector<std::uint8_t> value);
    // A value of a tag this platform does not convert (a 16-bit integer, a
    // currency...): it keeps only its tag.
    static Variant Unsupported(VARTYPE type) { return Variant(type, std::monostate{}); }

    VARTYPE Type() const { return type_; }
    bool IsEmptyOrNull() const { return type_ == VT_EMPTY || type_ == VT_NULL; }

    // Accessors; each requires a matching tag (std::bad_variant_access
    // otherwise): integer tags (I4, UI4, I8, INT, UINT), R8 and DATE, BSTR,
    // DECIMAL, byte array.
    std::int64_t Integer() const { return std::get<std::int64_t>(value_); }
    double Real() const { return std::get<double>(value_); }
    const BStr& Text() const { return std::get<BStr>(value_); }
    const Decimal& DecimalValue() const { return std::get<Decimal>(value_); }
    const std::vector<std::uint8_t>& ByteArray() const { return std::get<std::vector<std::uint8_t>>(value_); }

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    using Value = std::variant<std::monostate, std::int64_t, double, BStr, Decimal, std::vector<std::uint8_t>>;
    template <class T>
    Variant(VARTYPE type, T&& value)
        : type_(type), value_(std::in_place_type<std::decay_t<T>>, std::forward<T>(value)) {}

    VARTYPE type_ = VT_EMPTY;
    Value value_;
};

// Converts src to the tag `to` (VT_EMPTY, VT_NULL, VT_I4, VT_INT, VT_UI4,
// VT_UINT, VT_I8, VT_R8, VT_DATE, VT_BSTR, VT_DECIMAL, VT_BYTE_ARRAY) by the
// platform's rules:
// - reals and decimals to integers round half to even (2.5 -> 2, 3.5 -> 4);
// - a result outside the target's range gives DISP_E_OVERFLOW;
// - null converts only to null and empty (else DISP_E_TYPEMISMATCH); empty is 0 or
//   the empty text;
// - text is read and written with the locale's decimal point; text that is
//   not a number gives DISP_E_TYPEMISMATCH (dates are not read from text);
// - an unsupported target gives DISP_E_BADVARTYPE.
// On failure out is left unchanged.
HRESULT ChangeType(const Variant& src, VARTYPE to, Variant& out, const NumberFormat& format);
HRESULT ChangeType(const Variant& src, VARTYPE to, Variant& out);  // the user's locale
