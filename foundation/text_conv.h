#pragma once
// Conversions between narrow text and wide text. The original's "ANSI code
// page" is the narrow multibyte encoding of the current C locale (LC_CTYPE)
// here. An empty input gives an empty output without a conversion call; a
// text that the locale cannot represent raises ESystemException(EILSEQ).
// Embedded zero characters are converted like any other.
#include <string>
#include <string_view>

#include "foundation/bstr.h"

std::string WideToAnsi(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);
// A null BStr converts like an empty one.
std::string BStrToAnsi(const BStr& text);
// The result is never null: an empty input gives an empty (not null) BStr.
BStr AnsiToBStr(std::string_view text);
