#include "platform/hive_text.h"

#include "platform/utf.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr int kMaxDwordDigits = 8;
constexpr int kMaxHexEscapeDigits = 4;
constexpr int kMaxOctalEscapeDigits = 3;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.insert(out.end(), {0, 0});
    return out;
}

class Reader {
public:
    Reader(std::string_view text, HiveTree& tree) : text_(text), tree_(tree) {}

    bool Run(std::string& error);

private:
    bool NextLine(std::string_view& line);
    bool Fail(std::string_view reason);
    bool ParseKeyLine(std::string_view line);
    bool ParseValueLine(std::string_view line);
    bool ParseQuoted(std::string_view line, std::size_t& pos, char delimiter, std::u16string& out);
    bool ParseData(std::string_view data, RegValue& value, std::string& text);
    bool ParseHexList(std::string_view body, std::string& text, std::vector<std::uint8_t>& bytes);
    bool ParseTypeNumber(std::string_view& data, std::uint32_t& type);

    std::string_view text_;
    HiveTree& tree_;
    std::size_t offset_ = 0;
    int lineNo_ = 0;
    HiveKey* key_ = nullptr;
    std::string error_;
};

bool Reader::NextLine(std::string_view& line) {
    if (offset_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', offset_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(offset_, end - offset_);
    // Files edited on other systems end lines in CR LF, or worse; a kept
    // option line must not lose one CR per save.
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    offset_ = end + 1;
    ++lineNo_;
    return true;
}

bool Reader::Fail(std::string_view reason) {
    error_ = "line " + std::to_string(lineNo_) + ": " + std::string(reason);
    return false;
}

bool Reader::Run(std::string& error) {
    std::size_t nul = text_.find('\0');
    std::string_view line;
    bool ok = true;
    if (nul != std::string_view::npos) {
        lineNo_ = static_cast<int>(std::count(text_.begin(), text_.begin() + static_cast<long>(nul), '\n')) + 1;
        ok = Fail("NUL byte in the file");
    } else if (!NextLine(line) || line != kHiveHeader) {
        lineNo_ = 1;
        ok = Fail("the first line is not \"" + std::string(kHiveHeader) + "\"");
    }
    while (ok && NextLine(line)) {
        line = TrimLeft(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '#')
            (key_ ? key_->Options() : tree_.Preamble()).emplace_back(line);
        else if (line.front() == '[')
            ok = ParseKeyLine(line);
        else if (line.front() == '"' || line.front() == '@')
            ok = key_ ? ParseValueLine(line) : Fail("value before the first key");
        else
            ok = Fail("unexpected text");
    }
    error = error_;
    return ok;
}

bool Reader::ParseQuoted(std::string_view line, std::size_t& pos, char delimiter, std::u16string& out) {
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == delimiter) return true;
        if (static_cast<unsigned char>(c) >= 0x80) {
            std::size_t len = 1;
            while (pos - 1 + len < line.size() && (static_cast<unsigned char>(line[pos - 1 + len]) & 0xC0) == 0x80)
                ++len;
            std::optional<std::u16string> decoded = DecodeUtf8(line.substr(pos - 1, len));
            if (!decoded) return Fail("invalid UTF-8 text");
            out += *decoded;
            pos += len - 1;
            continue;
        }
        if (c != '\\') {
            out.push_back(static_cast<char16_t>(c));
            continue;
        }
        if (pos >= line.size()) break;
        char e = line[pos++];
        int value = 0;
        int digits = 0;
        switch (e) {
            case 'n': out.push_back(u'\n'); break;
            case 'r': out.push_back(u'\r'); break;
            case 't': out.push_back(u'\t'); break;
            case 'a': out.push_back(u'\a'); break;
            case 'b': out.push_back(u'\b'); break;
            case 'f': out.push_back(u'\f'); break;
            case 'v': out.push_back(u'\v'); break;
            case 'e': out.push_back(u'\x1b'); break;
            case 'x':
                // At most four digits: "\x00e9a" is U+00E9 followed by 'a'.
                for (; digits < kMaxHexEscapeDigits && pos < line.size() && IsHex(line[pos]); ++digits)
                    value = value * 16 + HexValue(line[pos++]);
                if (digits == 0) return Fail("\\x without hex digits");
                out.push_back(static_cast<char16_t>(value));
                break;
            case '0':
            case '1':
            case '2':
            case '3':
            case '4':
            case '5':
            case '6':
            case '7':
                value = e - '0';
                for (digits = 1;
                     digits < kMaxOctalEscapeDigits && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                     ++digits)
                    value = value * 8 + (line[pos++] - '0');
                out.push_back(static_cast<char16_t>(value));
                break;
            default: out.push_back(static_cast<char16_t>(static_cast<unsigned char>(e))); break;  // \\, \", \] ...
        }
    }
    return Fail(delimiter == ']' ? "unterminated key name" : "unterminated string");
}

bool Reader::ParseKeyLine(std::string_view line) {
    std::size_t pos = 1;
    std::u16string path;
    if (!ParseQuoted(line, pos, ']', path)) return false;
    std::string_view rest = TrimRight(TrimLeft(line.substr(pos)));
    std::int64_t modified = 0;
    if (!rest.empty()) {
        auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), modified);
        if (ec != std::errc() || ptr != rest.data() + rest.size()) return Fail("unexpected text after the key name");
    }
    key_ = tree_.CreateKeyFromFile(path, modified);
    return key_ ? true : Fail("invalid key path");
}

bool Reader::ParseValueLine(std::string_view line) {
    std::u16string name;
    std::size_t pos = 1;
    if (line.front() == '"' && !ParseQuoted(line, pos, '"', name)) return false;
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return Fail("expected '=' after the value name");
    std::string_view data = TrimLeft(rest.substr(1));
    RegValue value;
    std::string text(data);
    if (!ParseData(data, value, text)) return false;
    key_->PutFromFile(std::move(name), std::move(value), std::move(text));
    return true;
}

bool Reader::ParseTypeNumber(std::string_view& data, std::uint32_t& type) {
    std::size_t close = data.find(')');
    std::string_view digits = data.substr(0, close);
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), type, 16);
    if (close == std::string_view::npos || digits.empty() || ec != std::errc() ||
        ptr != digits.data() + digits.size() || data.substr(close + 1, 1) != ":")
        return Fail("bad value type number");
    data.remove_prefix(close + 2);
    return true;
}

bool Reader::ParseData(std::string_view data, RegValue& value, std::string& text) {
    value.type = REG_SZ;
    bool isString = data.starts_with('"');
    if (data.starts_with("str(")) {
        data.remove_prefix(4);
        if (!ParseTypeNumber(data, value.type)) return false;
        isString = data.starts_with('"');
        if (!isString) return Fail("expected a quoted string");
    }
    if (isString) {
        std::size_t pos = 1;
        std::u16string s;
        if (!ParseQuoted(data, pos, '"', s)) return false;
        if (!TrimRight(data.substr(pos)).empty()) return Fail("text after the closing quote");
        value.data = Utf16Bytes(s);
        return true;
    }
    if (data.starts_with("dword:")) {
        std::string_view digits = TrimRight(data.substr(6));
        if (digits.empty() || digits.size() > kMaxDwordDigits || !std::all_of(digits.begin(), digits.end(), IsHex))
            return Fail("dword: needs 1 to 8 hex digits");
        std::uint32_t number = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
        value.type = REG_DWORD;
        value.data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                      static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        return true;
    }
    if (data.starts_with("hex:")) {
        value.type = REG_BINARY;
        return ParseHexList(data.substr(4), text, value.data);
    }
    if (data.starts_with("hex(")) {
        data.remove_prefix(4);
        return ParseTypeNumber(data, value.type) && ParseHexList(data, text, value.data);
    }
    return Fail("unknown value type");
}

bool Reader::ParseHexList(std::string_view body, std::string& text, std::vector<std::uint8_t>& bytes) {
    std::string all(TrimRight(body));
    std::string_view next;
    while (!all.empty() && all.back() == '\\') {
        all.pop_back();
        if (!NextLine(next)) return Fail("continuation at the end of the file");
        text += "\n" + std::string(next);
        all += TrimRight(TrimLeft(next));
    }
    std::string_view list = TrimRight(all);
    if (list.empty()) return true;
    if (list.back() == ',')  // a trailing comma is tolerated
        list.remove_suffix(1);
    while (true) {
        std::size_t comma = list.find(',');
        std::string_view item = TrimRight(TrimLeft(list.substr(0, comma)));
        if (item.size() != 2 || !IsHex(item[0]) || !IsHex(item[1]))
            return Fail("bad hex byte \"" + std::string(item) + "\"");
        bytes.push_back(static_cast<std::uint8_t>(HexValue(item[0]) * 16 + HexValue(item[1])));
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

}  // namespace

bool ParseHiveText(std::string_view text, HiveTree& tree, std::string& error) { return Reader(text, tree).Run(error); }
