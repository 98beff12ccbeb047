#pragma once
// BStr: the COM string of the original platform. A UTF-16 text that, unlike
// an empty string, can also be null (no string at all). Conversions to the
// narrow text of the user's locale live with the typed values (text_conv.h).
#include <cstddef>
#include <string>
#include <string_view>

class BStr {
public:
    BStr() = default;  // null
    BStr(std::u16string_view text) : text_(text), null_(false) {}
    BStr(const char16_t* text);  // null pointer gives a null BStr
    static BStr FromWide(std::wstring_view text);

    bool IsNull() const { return null_; }
    bool IsEmpty() const { return null_ || text_.empty(); }
    std::size_t Length() const { return text_.size(); }
    const std::u16string& Text() const { return text_; }
    std::wstring ToWide() const;

    friend bool operator==(const BStr&, const BStr&) = default;

private:
    std::u16string text_;
    bool null_ = true;
};
