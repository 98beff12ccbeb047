#pragma once
// Numbers as text in the user's locale, as the variant conversions read and
// write them. The decimal point is that of the C library's numeric locale
// (LC_NUMERIC), which the application takes from the user's environment at
// start-up; tests pass their own NumberFormat.
#include "platform/decimal.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct NumberFormat {
    std::u16string decimalPoint = u".";
};

NumberFormat CurrentNumberFormat();

// A number read from text: value = digits * 10^exponent, digits without
// leading zeros (empty for zero).
struct NumberText {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// Accepts blanks around the number, one sign, digits with at most one
// decimal point of the locale, and an exponent ("1.5E3"). Group separators
// are refused: in locales whose group separator is '.', accepting them would
// read "2.5" as 25.
std::optional<NumberText> ParseNumberText(std::u16string_view text, const NumberFormat& format);

enum class RangeResult { Ok, Overflow };
// Correctly rounded; magnitudes below the smallest double become zero.
RangeResult NumberTextToDouble(const NumberText& number, double& out);

std::u16string FormatInteger(std::int64_t value);
std::u16string FormatUnsigned(std::uint64_t value);
// 15 significant digits, exponent form for very large or small magnitudes
// ("1.5E+20").
std::u16string FormatDouble(double value, const NumberFormat& format);
std::u16string FormatDecimal(const Decimal& value, const NumberFormat& format);
