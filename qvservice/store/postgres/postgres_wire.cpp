#include "qvservice/store/postgres/postgres_wire.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace qv::server::pg {

namespace {
constexpr int kMaxParameters = 65535;
constexpr int kDigitsPerGroup = 4;  // NUMERIC's digits are base 10000

std::string Group(int digits) {
    const std::string text = std::to_string(digits);
    return std::string(kDigitsPerGroup - std::min<std::size_t>(text.size(), kDigitsPerGroup), '0') + text;
}
}  // namespace

TranslatedSql TranslateParameters(std::string_view sql) {
    TranslatedSql out;
    out.text.reserve(sql.size() + 8);
    const auto endOf = [&](std::size_t found, std::size_t width) {
        return found == std::string_view::npos ? sql.size() : found + width;
    };
    std::size_t at = 0;
    while (at < sql.size()) {
        const char c = sql[at];
        std::size_t next = at + 1;
        if (c == '\'' || c == '"') {
            // A doubled quote inside just reads as two literals back to back.
            next = endOf(sql.find(c, at + 1), 1);
        } else if (sql.substr(at, 2) == "--") {
            next = endOf(sql.find('\n', at), 1);
        } else if (sql.substr(at, 2) == "/*") {
            next = endOf(sql.find("*/", at + 2), 2);
        } else if (c == '?') {
            std::size_t digits = at + 1;
            while (digits < sql.size() && sql[digits] >= '0' && sql[digits] <= '9') ++digits;
            int number = out.parameters + 1;
            if (digits > at + 1) {
                const auto parsed = std::from_chars(sql.data() + at + 1, sql.data() + digits, number);
                if (parsed.ec != std::errc{}) number = 0;
            }
            if (number < 1 || number > kMaxParameters) throw std::logic_error("SQL parameter number out of range");
            out.parameters = std::max(out.parameters, number);
            out.used.resize(out.parameters);
            out.used[number - 1] = true;
            out.text += '$';
            out.text += std::to_string(number);
            at = digits;
            continue;
        }
        out.text.append(sql.substr(at, next - at));
        at = next;
    }
    return out;
}

bool IsPlainName(std::string_view name) {
    if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

std::uint64_t ReadBigEndian(const char* data, int size) {
    std::uint64_t value = 0;
    for (int k = 0; k < size; ++k) value = (value << 8) | static_cast<unsigned char>(data[k]);
    return value;
}

std::string NumericText(const char* data, int size) {
    // Four 16-bit words (digit count, weight of the first digit, sign, display
    // scale), then the digits.
    if (size < 8) return {};
    const auto word = [&](int index) { return static_cast<std::uint16_t>(ReadBigEndian(data + 2 * index, 2)); };
    const int count = static_cast<std::int16_t>(word(0));
    const int weight = static_cast<std::int16_t>(word(1));
    const std::uint16_t sign = word(2);
    if (count < 0 || size != 8 + 2 * count) return {};
    if (sign == 0xC000) return "nan";
    if (sign == 0xD000) return "inf";
    if (sign == 0xF000) return "-inf";
    const auto digit = [&](int index) { return index >= 0 && index < count ? word(4 + index) : 0; };
    std::string text = sign == 0x4000 ? "-" : "";
    text += std::to_string(weight >= 0 ? digit(0) : 0);
    for (int index = 1; index <= weight; ++index) text += Group(digit(index));
    if (count > weight + 1) text += '.';
    for (int index = weight + 1; index < count; ++index) text += Group(digit(index));
    return text;
}

std::string OneLine(std::string_view text) {
    std::string line;
    bool gap = false;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            gap = !line.empty();
            continue;
        }
        if (gap) line += ' ';
        gap = false;
        line += c;
    }
    return line;
}

std::string WithoutQuotedText(std::string_view text) {
    std::string kept;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            if (!quoted) kept += "\"...\"";
            quoted = !quoted;
        } else if (!quoted) {
            kept += c;
        }
    }
    return kept;
}

}  // namespace qv::server::pg
