#include "platform/number_text.h"

#include "platform/utf.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <system_error>

namespace {

constexpr int kDoubleDigits = 15;
// Exponents beyond this overflow or underflow every type anyway; clamping
// keeps the arithmetic below in range.
constexpr long kExponentClamp = 100000;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string AsciiToUtf16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string WithDecimalPoint(std::string_view text, const NumberFormat& format) {
    std::u16string out;
    for (char c : text) {
        if (c == '.')
            out += format.decimalPoint;
        else
            out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

}  // namespace

NumberFormat CurrentNumberFormat() {
    NumberFormat format;
    const std::lconv* conv = std::localeconv();
    if (conv && conv->decimal_point && *conv->decimal_point) format.decimalPoint = Utf8ToUtf16(conv->decimal_point);
    return format;
}

std::optional<NumberText> ParseNumberText(std::u16string_view text, const NumberFormat& format) {
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && IsBlank(text[i])) ++i;
    while (end > i && IsBlank(text[end - 1])) --end;
    NumberText number;
    if (i < end && (text[i] == u'+' || text[i] == u'-')) number.negative = text[i++] == u'-';
    std::string digits;
    long exponent = 0;
    bool anyDigit = false;
    bool inFraction = false;
    while (i < end) {
        if (IsDigit(text[i])) {
            digits.push_back(static_cast<char>(text[i++]));
            anyDigit = true;
            if (inFraction) --exponent;
        } else if (!inFraction && !format.decimalPoint.empty() &&
                   text.substr(i, format.decimalPoint.size()) == format.decimalPoint) {
            inFraction = true;
            i += format.decimalPoint.size();
        } else {
            break;
        }
    }
    if (!anyDigit) return std::nullopt;
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool negativeExp = false;
        if (i < end && (text[i] == u'+' || text[i] == u'-')) negativeExp = text[i++] == u'-';
        if (i == end || !IsDigit(text[i])) return std::nullopt;
        long value = 0;
        for (; i < end && IsDigit(text[i]); ++i) value = std::min(kExponentClamp, value * 10 + (text[i] - u'0'));
        exponent += negativeExp ? -value : value;
    }
    if (i != end) return std::nullopt;
    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) {
        number.digits.clear();
        return number;
    }
    std::size_t last = digits.find_last_not_of('0');
    exponent += static_cast<long>(digits.size() - last - 1);
    number.digits = digits.substr(first, last - first + 1);
    number.exponent = static_cast<int>(std::max(-2 * kExponentClamp, std::min(2 * kExponentClamp, exponent)));
    return number;
}

RangeResult NumberTextToDouble(const NumberText& number, double& out) {
    if (number.digits.empty()) {
        out = 0.0;
        return RangeResult::Ok;
    }
    std::string text = number.digits + "e" + std::to_string(number.exponent);
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        long magnitude = static_cast<long>(number.digits.size()) + number.exponent;
        if (magnitude > 0) return RangeResult::Overflow;
        value = 0.0;
    }
    out = number.negative ? -value : value;
    return RangeResult::Ok;
}

std::u16string FormatInteger(std::int64_t value) { return AsciiToUtf16(std::to_string(value)); }

std::u16string FormatUnsigned(std::uint64_t value) { return AsciiToUtf16(std::to_string(value)); }

std::u16string FormatDouble(double value, const NumberFormat& format) {
    if (value == 0.0) return u"0";  // no "-0"
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, kDoubleDigits);
    std::string text(buf, res.ptr);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return WithDecimalPoint(text, format);
}

std::u16string FormatDecimal(const Decimal& value, const NumberFormat& format) {
    return WithDecimalPoint(value.ToPlainText(), format);
}
