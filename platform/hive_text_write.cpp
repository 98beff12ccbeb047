#include "platform/hive_text.h"

#include <cstdio>

namespace {

constexpr std::size_t kWrapColumn = 77;  // lines stay within 80 columns with the '\'
constexpr std::string_view kContinuation = "\\\n  ";
constexpr std::size_t kContinuationIndent = 2;
constexpr std::string_view kHexDigits = "0123456789abcdef";

std::string Hex(std::uint32_t value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*x", width, value);
    return buf;
}

bool IsTerminatedText(const RegValue& v) {
    const auto& d = v.data;
    return d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 1] == 0 && d[d.size() - 2] == 0;
}

std::u16string TextOf(const std::vector<std::uint8_t>& d) {
    std::u16string text;
    for (std::size_t i = 0; i + 2 < d.size(); i += 2) text.push_back(static_cast<char16_t>(d[i] | (d[i + 1] << 8)));
    return text;
}

std::string FormatHexList(const RegValue& v, std::size_t column) {
    std::string out = v.type == REG_BINARY ? "hex:" : "hex(" + Hex(v.type, 1) + "):";
    column += out.size();
    for (std::size_t i = 0; i < v.data.size(); ++i) {
        std::string piece{kHexDigits[v.data[i] >> 4], kHexDigits[v.data[i] & 0xF]};
        if (i + 1 < v.data.size()) piece.push_back(',');
        if (column + piece.size() > kWrapColumn) {
            out += kContinuation;
            column = kContinuationIndent;
        }
        out += piece;
        column += piece.size();
    }
    return out;
}

std::string FormatData(const RegValue& v, std::size_t column) {
    if (v.type == REG_SZ && IsTerminatedText(v)) return "\"" + EscapeHiveString(TextOf(v.data), '"') + "\"";
    if (v.type == REG_DWORD && v.data.size() == 4) {
        std::uint32_t value = static_cast<std::uint32_t>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16)) |
                              (static_cast<std::uint32_t>(v.data[3]) << 24);
        return "dword:" + Hex(value, 8);
    }
    return FormatHexList(v, column);
}

}  // namespace

std::string EscapeHiveString(std::u16string_view text, char delimiter) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c == u'\\' || c == static_cast<char16_t>(delimiter)) {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c < 0x20 || c > 0x7E) {
            out += "\\x" + Hex(c, 4);  // always four digits: the reader takes at most four
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string FormatHiveText(const HiveTree& tree) {
    std::string out(kHiveHeader);
    out += "\n;; All keys relative to the current user's hive\n";
    for (const std::string& line : tree.Preamble()) out += line + "\n";
    for (const auto& key : tree.Keys()) {
        // Parents exist implicitly through their subkeys, as in Wine's files.
        if (key->Entries().empty() && key->Options().empty() && tree.HasSubkeys(*key)) continue;
        out += "\n[" + EscapeHiveString(key->Path(), ']') + "] " + std::to_string(key->Modified()) + "\n";
        for (const std::string& line : key->Options()) out += line + "\n";
        for (const HiveKey::Entry& e : key->Entries()) {
            std::string name = e.name.empty() ? "@" : "\"" + EscapeHiveString(e.name, '"') + "\"";
            out += name + "=" + (e.text.empty() ? FormatData(e.value, name.size() + 1) : e.text) + "\n";
        }
    }
    return out;
}
