#include "foundation/bstr.h"

BStr::BStr(const char16_t* text) {
    if (text) {
        text_ = text;
        null_ = false;
    }
}

// wchar_t is UTF-32 here; code points above the BMP become surrogate pairs.
BStr BStr::FromWide(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<char32_t>(wc);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(cp > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(cp));
        }
    }
    return BStr(out);
}

// A lone surrogate is kept as its own code unit so nothing is silently lost.
std::wstring BStr::ToWide() const {
    std::wstring out;
    out.reserve(text_.size());
    for (std::size_t i = 0; i < text_.size(); ++i) {
        char16_t c = text_[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text_.size() && text_[i + 1] >= 0xDC00 && text_[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text_[i + 1]) - 0xDC00);
            out.push_back(static_cast<wchar_t>(cp));
            ++i;
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}
