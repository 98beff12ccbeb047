#pragma once
// Decimal: the OLE Automation decimal number. A 96-bit unsigned integer with
// a sign and a power-of-ten scale (0..28): value = -1^negative * mantissa /
// 10^scale. Serves result-set values that the data-access library delivers
// as exact decimals (sums and counts of large tables).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct Decimal {
    static constexpr int kMaxScale = 28;

    std::uint32_t hi32 = 0;  // bits 64..95 of the mantissa
    std::uint64_t lo64 = 0;  // bits 0..63 of the mantissa
    std::uint8_t scale = 0;
    bool negative = false;

    static Decimal FromInt64(std::int64_t value);
    static Decimal FromUInt64(std::uint64_t value);
    // value = digits * 10^exponent; extra fractional digits are rounded half
    // to even; nullopt when the integer part needs more than 96 bits.
    // digits holds ASCII digits only (may be empty for zero).
    static std::optional<Decimal> FromDigits(bool negative, std::string_view digits, int exponent);
    // Rounded to 15 significant digits, as the platform converts a double;
    // nullopt for NaN, infinities and magnitudes of 2^96 and above.
    static std::optional<Decimal> FromDouble(double value);
    // Returns nullopt when scale is above 28 or the mantissa is too wide.
    static std::optional<Decimal> FromParts(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative);

    bool IsZero() const { return hi32 == 0 && lo64 == 0; }
    // Plain text with '.' as the decimal point and no trailing fractional
    // zeros, for example "-12.5".
    std::string ToPlainText() const;
    // The nearest double (correctly rounded).
    double ToDouble() const;
    // Rounded half to even; nullopt when the result does not fit.
    std::optional<std::int64_t> RoundToInt64() const;

    friend bool operator==(const Decimal&, const Decimal&) = default;
};
