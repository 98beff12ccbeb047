#pragma once
// UTF-8 <-> UTF-16 conversions for text that crosses the wire (UTF-8) and
// the platform's string types (UTF-16), independent of the user's locale.
#include <optional>
#include <string>
#include <string_view>

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD, so the result is always valid UTF-8.
std::string Utf16ToUtf8(std::u16string_view text);
// Strict decoding: nullopt on any invalid sequence.
std::optional<std::u16string> DecodeUtf8(std::string_view text);
