// Narrow and wide text in the C locale's encoding, and BStr.
#include <gtest/gtest.h>

#include <cerrno>

#include "foundation/exceptions.h"
#include "foundation/text_conv.h"
#include "tests/support/test_util.h"

namespace {

using test_util::ScopedLocale;

template <class F>
bool RefusedWithEilseq(F call) {
    try {
        call();
    } catch (const ESystemException& e) {
        return e.GetField("Code")->GetInt() == EILSEQ;
    }
    return false;
}

TEST(FoundationTextConv, ConvertsInTheLocaleOrRefusesAndComStrings) {
    {
        ScopedLocale c("C");
        EXPECT_EQ(AnsiToWide(""), L"");
        EXPECT_EQ(WideToAnsi(L"Quorvis"), "Quorvis");
        EXPECT_EQ(WideToAnsi(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
        EXPECT_TRUE(RefusedWithEilseq([] { AnsiToWide("caf\xc3\xa9"); }));
        EXPECT_TRUE(RefusedWithEilseq([] { WideToAnsi(L"caf\u00e9"); }));
    }
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    EXPECT_EQ(AnsiToWide("caf\xc3\xa9"), L"caf\u00e9");
    EXPECT_EQ(WideToAnsi(L"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_TRUE(RefusedWithEilseq([] { AnsiToWide("ab\xc3"); }));  // cut inside a character
    EXPECT_TRUE(RefusedWithEilseq([] { AnsiToWide("\xff"); }));

    EXPECT_EQ(BStrToAnsi(BStr()), "");
    BStr empty = AnsiToBStr("");
    EXPECT_FALSE(empty.IsNull());
    EXPECT_TRUE(empty.IsEmpty());
    BStr smile = AnsiToBStr("x\xf0\x9f\x98\x80");  // outside the basic plane
    EXPECT_EQ(smile.Text(), std::u16string(u"x\U0001F600"));
    EXPECT_EQ(smile.Length(), 3u);
    EXPECT_EQ(BStrToAnsi(smile), "x\xf0\x9f\x98\x80");
    EXPECT_EQ(BStr(u"a\xD800").ToWide(), std::wstring(L"a\xD800"));  // a lone surrogate stays
    EXPECT_NE(BStr(), BStr(u""));
}

}  // namespace
