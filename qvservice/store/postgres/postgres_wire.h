// What the PostgreSQL store puts on and reads off the wire: the store's SQL
// with PostgreSQL's parameters, values in their binary forms, and libpq's
// messages fit for the store's own.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qv::server::pg {

// Built-in type ids (catalog/pg_type_d.h, which libpq-dev does not ship).
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kNameOid = 19;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kTextOid = 25;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kBpcharOid = 1042;
constexpr Oid kVarcharOid = 1043;
constexpr Oid kNumericOid = 1700;
constexpr Oid kInt8ArrayOid = 1016;
constexpr Oid kFloat8ArrayOid = 1022;

struct TranslatedSql {
    std::string text;
    int parameters = 0;      // the highest parameter number used
    std::vector<bool> used;  // by number - 1: whether the text holds it
};

// SQLite's "?N" (and bare "?") parameters become "$N", except inside string
// literals, quoted identifiers and comments. Throws std::logic_error on a
// parameter number out of range.
TranslatedSql TranslateParameters(std::string_view sql);

// A name that needs no quoting: letters, digits and "_".
bool IsPlainName(std::string_view name);

template <typename T>
void AppendBigEndian(std::string& out, T value) {
    const auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (int shift = static_cast<int>(sizeof(T) - 1) * 8; shift >= 0; shift -= 8) {
        out += static_cast<char>((bits >> shift) & 0xFF);
    }
}

std::uint64_t ReadBigEndian(const char* data, int size);

// The decimal text of a NUMERIC in its binary form: "-12.5", "nan", "inf",
// "-inf"; empty when the form is malformed.
std::string NumericText(const char* data, int size);

// libpq's messages span lines and end in a newline; the store's are one line.
std::string OneLine(std::string_view text);

// libpq quotes the parts of a connection string it cannot parse, and such a
// part may be the password: the message without what it quotes.
std::string WithoutQuotedText(std::string_view text);

}  // namespace qv::server::pg
