// A small JSON reader for the compositor's IPC replies: the whole text into
// a tree, bounded in depth, with a clear error for anything malformed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::recorder {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's value
    // An array's items, or an object's members in their order, each with its key.
    std::vector<JsonValue> items;
    std::string key;

    // An object's member by key; nullptr when absent or not an object.
    const JsonValue* Find(std::string_view name) const;
    // The member's text when it is a string; empty otherwise.
    std::string String(std::string_view name) const;
};

// nullopt, with error set, when text is not one JSON value.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace qv::recorder
