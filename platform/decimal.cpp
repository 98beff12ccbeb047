#include "platform/decimal.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

using u128 = unsigned __int128;

constexpr u128 kMantissaLimit = u128(1) << 96;
constexpr int kDoubleDigits = 15;

u128 Mantissa(const Decimal& d) { return (u128(d.hi32) << 64) | d.lo64; }

Decimal Make(u128 mantissa, int scale, bool negative) {
    Decimal d;
    d.hi32 = static_cast<std::uint32_t>(mantissa >> 64);
    d.lo64 = static_cast<std::uint64_t>(mantissa);
    d.scale = static_cast<std::uint8_t>(scale);
    d.negative = negative && mantissa != 0;
    return d;
}

// Drops the last digit of value, rounding half to even; `rest` says whether
// any non-zero digit was dropped before (sticky).
u128 DropDigit(u128 value, bool& rest) {
    u128 q = value / 10;
    int digit = static_cast<int>(value % 10);
    bool up = digit > 5 || (digit == 5 && (rest || (q & 1) != 0));
    rest = rest || digit != 0;
    return up ? q + 1 : q;
}

}  // namespace

Decimal Decimal::FromInt64(std::int64_t value) {
    // -(value + 1) cannot overflow, even for the smallest value.
    u128 magnitude = value < 0 ? u128(static_cast<std::uint64_t>(-(value + 1))) + 1 : u128(value);
    return Make(magnitude, 0, value < 0);
}

Decimal Decimal::FromUInt64(std::uint64_t value) { return Make(value, 0, false); }

std::optional<Decimal> Decimal::FromParts(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative) {
    if (scale < 0 || scale > kMaxScale) return std::nullopt;
    return Make((u128(hi32) << 64) | lo64, scale, negative);
}

std::optional<Decimal> Decimal::FromDigits(bool negative, std::string_view digits, int exponent) {
    std::size_t first = digits.find_first_not_of('0');
    digits = first == std::string_view::npos ? std::string_view() : digits.substr(first);
    if (digits.empty()) return Make(0, 0, false);
    // Digits that lie below 10^-28, and digits beyond what 96 bits can hold,
    // are rounded away.
    long scale = -static_cast<long>(exponent);
    std::size_t keep = digits.size();
    if (scale > kMaxScale) {
        long excess = scale - kMaxScale;
        // When even the first digit lies below 10^-29, the digit that decides
        // the rounding is an implied zero.
        if (excess > static_cast<long>(digits.size())) return Make(0, 0, false);
        keep = digits.size() - static_cast<std::size_t>(excess);
        scale = kMaxScale;
    }
    u128 value = 0;
    std::size_t used = 0;
    for (; used < keep; ++used) {
        u128 next = value * 10 + static_cast<unsigned>(digits[used] - '0');
        if (next >= kMantissaLimit) break;
        value = next;
    }
    // Digits that did not fit: they must all be fractional, else overflow.
    long dropped = static_cast<long>(digits.size() - used);
    if (used < keep) {
        long unfit = static_cast<long>(keep - used);
        if (unfit > scale) return std::nullopt;
        scale -= unfit;
    }
    if (dropped > 0) {
        bool rest = digits.find_first_not_of('0', used + 1) != std::string_view::npos;
        int next = digits[used] - '0';
        bool up = next > 5 || (next == 5 && (rest || (value & 1) != 0));
        if (up && ++value >= kMantissaLimit) {
            if (scale == 0) return std::nullopt;
            bool sticky = true;
            value = DropDigit(value, sticky);
            --scale;
        }
    }
    // A negative scale means trailing zeros of the integer part.
    for (; scale < 0; ++scale) {
        value *= 10;
        if (value >= kMantissaLimit) return std::nullopt;
    }
    return Make(value, static_cast<int>(scale), negative);
}

std::optional<Decimal> Decimal::FromDouble(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, kDoubleDigits - 1);
    std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e))
        if (c != '.') digits.push_back(c);
    // 0.1 becomes 1 at scale 1, not 100000000000000 at scale 15.
    std::size_t last = digits.find_last_not_of('0');
    if (last == std::string::npos) return Make(0, 0, false);
    std::size_t zeros = digits.size() - 1 - last;
    std::size_t at = e + 1;
    if (text[at] == '+')  // from_chars takes '-' but not '+'
        ++at;
    int exponent = 0;
    std::from_chars(text.data() + at, text.data() + text.size(), exponent);
    digits.resize(digits.size() - zeros);
    return FromDigits(value < 0, digits, exponent - (kDoubleDigits - 1) + static_cast<int>(zeros));
}

std::string Decimal::ToPlainText() const {
    u128 m = Mantissa(*this);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    } while (m != 0);
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    std::string text = digits.substr(0, digits.size() - scale);
    std::string fraction = digits.substr(digits.size() - scale);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    if (!fraction.empty()) text += "." + fraction;
    return negative && !IsZero() ? "-" + text : text;
}

double Decimal::ToDouble() const {
    std::string text = ToPlainText();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::optional<std::int64_t> Decimal::RoundToInt64() const {
    u128 m = Mantissa(*this);
    bool rest = false;
    for (int i = 0; i + 1 < scale; ++i) {
        rest = rest || m % 10 != 0;
        m /= 10;
    }
    if (scale > 0) m = DropDigit(m, rest);
    constexpr u128 kMaxPositive = static_cast<u128>(std::numeric_limits<std::int64_t>::max());
    if (m > kMaxPositive + (negative ? 1 : 0)) return std::nullopt;
    if (negative)
        return m == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(m);
    return static_cast<std::int64_t>(m);
}
