#pragma once
// The hive's file form: the text format in which Wine keeps a user hive
// (user.reg). First line "WINE REGISTRY Version 2"; key lines
// [Software\\Vendor\\Product] <unix seconds>; values "name"="text",
// "name"=dword:0000000a, "name"=hex:01,02 (long lists continue on the next
// line after ",\"), other types as hex(N): or str(N):"..."; '@' names the
// default value; ';' starts a comment, '#' an option line that is kept.
// Strings are pure ASCII with \xNNNN escapes for other characters.
#include "platform/hive_key.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kHiveHeader = "WINE REGISTRY Version 2";

// Reads text into tree (which should be empty). On failure returns false and
// sets error to "line N: reason".
bool ParseHiveText(std::string_view text, HiveTree& tree, std::string& error);
std::string FormatHiveText(const HiveTree& tree);

// Escapes text for a quoted name or string ending in delimiter.
std::string EscapeHiveString(std::u16string_view text, char delimiter);
