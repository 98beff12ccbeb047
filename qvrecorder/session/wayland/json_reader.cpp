#include "qvrecorder/session/wayland/json_reader.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace qv::recorder {

namespace {

// Real trees nest a few dozen levels; the cap keeps a hostile reply from
// exhausting the stack.
constexpr int kMaxDepth = 200;

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    JsonValue Document() {
        JsonValue value = Value(0);
        SkipSpace();
        if (at_ != text_.size()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error(what + " at byte " + std::to_string(at_));
    }

    void SkipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    char Next() {
        if (at_ >= text_.size()) Fail("unexpected end");
        return text_[at_++];
    }

    void Expect(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) Fail("unexpected character");
        at_ += word.size();
    }

    JsonValue Value(int depth) {
        if (depth > kMaxDepth) Fail("nesting too deep");
        SkipSpace();
        if (at_ >= text_.size()) Fail("unexpected end");
        JsonValue value;
        switch (text_[at_]) {
            case '{': Object(value, depth); break;
            case '[': Array(value, depth); break;
            case '"':
                value.type = JsonValue::Type::String;
                value.text = String();
                break;
            case 't':
                Expect("true");
                value.type = JsonValue::Type::Bool;
                value.boolean = true;
                break;
            case 'f':
                Expect("false");
                value.type = JsonValue::Type::Bool;
                break;
            case 'n': Expect("null"); break;
            default: Number(value);
        }
        return value;
    }

    void Object(JsonValue& value, int depth) {
        value.type = JsonValue::Type::Object;
        ++at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return;
        }
        for (;;) {
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != '"') Fail("expected a key");
            std::string key = String();
            SkipSpace();
            if (Next() != ':') Fail("expected ':'");
            value.items.push_back(Value(depth + 1));
            value.items.back().key = std::move(key);
            SkipSpace();
            const char c = Next();
            if (c == '}') return;
            if (c != ',') Fail("expected ',' or '}'");
        }
    }

    void Array(JsonValue& value, int depth) {
        value.type = JsonValue::Type::Array;
        ++at_;
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return;
        }
        for (;;) {
            value.items.push_back(Value(depth + 1));
            SkipSpace();
            const char c = Next();
            if (c == ']') return;
            if (c != ',') Fail("expected ',' or ']'");
        }
    }

    void Number(JsonValue& value) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const std::size_t digits = at_;
        while (at_ < text_.size() &&
               ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '.' || text_[at_] == 'e' ||
                text_[at_] == 'E' || text_[at_] == '+' || text_[at_] == '-')) {
            ++at_;
        }
        if (at_ == digits || text_[digits] < '0' || text_[digits] > '9') {
            at_ = start;
            Fail("unexpected character");
        }
        const std::string number(text_.substr(start, at_ - start));
        char* end = nullptr;
        value.type = JsonValue::Type::Number;
        value.number = std::strtod(number.c_str(), &end);
        if (end != number.c_str() + number.size()) Fail("malformed number");
    }

    unsigned Hex4() {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Next();
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                Fail("malformed \\u escape");
            }
        }
        return code;
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::string String() {
        ++at_;  // the opening quote
        std::string out;
        for (;;) {
            const char c = Next();
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            switch (Next()) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t code = Hex4();
                    if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
                        at_ += 2;
                        const unsigned low = Hex4();
                        if (low < 0xDC00 || low > 0xDFFF) Fail("malformed surrogate pair");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xD800 && code < 0xE000) {
                        code = 0xFFFD;  // a lone surrogate: the replacement character
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default: Fail("unknown escape");
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
    if (type != Type::Object) return nullptr;
    for (const JsonValue& item : items) {
        if (item.key == name) return &item;
    }
    return nullptr;
}

std::string JsonValue::String(std::string_view name) const {
    const JsonValue* member = Find(name);
    return member != nullptr && member->type == Type::String ? member->text : std::string();
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
    try {
        return Reader(text).Document();
    } catch (const std::exception& failure) {
        error = failure.what();
        return std::nullopt;
    }
}

}  // namespace qv::recorder
