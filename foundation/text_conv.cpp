#include "foundation/text_conv.h"

#include <cerrno>
#include <climits>
#include <cwchar>

#include "foundation/exceptions.h"

// The restartable one-character forms of mbsrtowcs/wcsrtombs, so that a zero
// character inside the text does not end the conversion.

std::string WideToAnsi(std::wstring_view text) {
    std::string out;
    if (text.empty()) {
        return out;
    }
    out.reserve(text.size());
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (wchar_t c : text) {
        std::size_t n = std::wcrtomb(buffer, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            ThrowSystemError(EILSEQ);
        }
        out.append(buffer, n);
    }
    // A stateful encoding may need a shift sequence back to the initial
    // state; wcrtomb of L'\0' writes it followed by the zero, which we drop.
    std::size_t n = std::wcrtomb(buffer, L'\0', &state);
    if (n == static_cast<std::size_t>(-1)) {
        ThrowSystemError(EILSEQ);
    }
    out.append(buffer, n - 1);
    return out;
}

std::wstring AnsiToWide(std::string_view text) {
    std::wstring out;
    if (text.empty()) {
        return out;
    }
    out.reserve(text.size());
    std::mbstate_t state{};
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        wchar_t c = 0;
        std::size_t n = std::mbrtowc(&c, p, left, &state);
        // -1: an invalid sequence; -2: the text ends inside a character.
        if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
            ThrowSystemError(EILSEQ);
        }
        out.push_back(c);
        if (n == static_cast<std::size_t>(-3)) {
            continue;  // one more character from bytes already consumed
        }
        n = n == 0 ? 1 : n;  // the zero character is always one zero byte
        p += n;
        left -= n;
    }
    return out;
}

std::string BStrToAnsi(const BStr& text) {
    if (text.IsEmpty()) {
        return {};
    }
    return WideToAnsi(text.ToWide());
}

BStr AnsiToBStr(std::string_view text) {
    if (text.empty()) {
        return BStr(std::u16string_view());
    }
    return BStr::FromWide(AnsiToWide(text));
}
