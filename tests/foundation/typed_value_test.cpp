#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

#include "foundation/exceptions.h"
#include "foundation/text_conv.h"
#include "foundation/type_name.h"
#include "foundation/typed_value.h"
#include "tests/support/test_util.h"

namespace {

using test_util::ScopedLocale;

// Raises EBadCastException naming both types.
auto BadCast(const std::string& from, const std::string& to) {
    return testing::ThrowsMessage<EBadCastException>(testing::HasSubstr("\nFrom: " + from + "\nTo: " + to + "\n"));
}

TEST(FoundationTypedValue, IntegersConvertToNumbersOnly) {
    _value_t_data_t<std::int32_t> value(-7);
    EXPECT_EQ(value.GetInt(), -7);
    EXPECT_EQ(value.GetUInt(), 4294967289u);
    EXPECT_EQ(value.GetInt64(), -7);
    EXPECT_EQ(value.GetDouble(), -7.0);
    EXPECT_THAT([&] { value.GetString(); }, BadCast("int", TypeName(typeid(std::string))));
    EXPECT_THAT([&] { value.GetBool(); }, BadCast("int", "bool"));
    EXPECT_THAT([&] { value.GetTime(); }, BadCast("int", "_time_t"));
    value.SetUInt(0xFFFFFFFFu);
    EXPECT_EQ(value.Value(), -1);
    value.SetBool(true);
    EXPECT_EQ(value.Value(), 1);
    EXPECT_THAT([&] { value.SetString("1"); }, BadCast("int", TypeName(typeid(std::string))));
    EXPECT_THAT([&] { value.SetDouble(1); }, BadCast("int", "double"));
}

TEST(FoundationTypedValue, TextsConvertToTextsOnly) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    _value_t_data_t<std::string> narrow("12");
    EXPECT_THAT([&] { narrow.GetInt(); }, BadCast(TypeName(typeid(std::string)), "int"));  // no parsing
    EXPECT_THROW(narrow.SetInt(1), EBadCastException);
    narrow.SetWString(L"caf\u00e9");
    EXPECT_EQ(narrow.Value(), "caf\xc3\xa9");
    EXPECT_EQ(narrow.GetWString(), L"caf\u00e9");
    EXPECT_EQ(narrow.GetBstr(), BStr(u"caf\u00e9"));

    _value_t_data_t<BStr> com(BStr(u"\u00e9t\u00e9"));
    EXPECT_EQ(com.GetString(), "\xc3\xa9t\xc3\xa9");
    com.SetString("\xc3\xa0");
    EXPECT_EQ(com.GetBstr(), BStr(u"\u00e0"));
    EXPECT_EQ(com.GetWString(), L"\u00e0");
    EXPECT_THAT([&] { com.GetDouble(); }, BadCast("BStr", "double"));
}

TEST(FoundationTypedValue, ViewsReachTheVariableAndReadOnlyViewsRefuse) {
    _value_t_data_t<std::int32_t> owned(5);
    EXPECT_THAT([&] { owned.GetRef(1); }, testing::ThrowsMessage<std::out_of_range>("out of range"));
    EXPECT_THROW(owned.GetConstRef(1), std::out_of_range);
    owned.GetRef(0)->SetInt(9);
    EXPECT_EQ(owned.Value(), 9);
    EXPECT_EQ(owned.GetConstRef()->GetData(), owned.GetData());

    std::string variable = "before";
    _value_t_pdata_t<std::string> view(&variable);
    view.SetString("after");
    EXPECT_EQ(variable, "after");
    _value_t_data::Ptr clone = view.Clone();
    variable = "outside";
    EXPECT_EQ(view.GetString(), "outside");
    EXPECT_EQ(clone->GetString(), "after");

    const std::int32_t constant = 3;
    _value_t_pcdata_t<std::int32_t> readOnly(&constant);
    EXPECT_EQ(readOnly.GetInt(), 3);
    EXPECT_THAT([&] { readOnly.SetInt(4); }, BadCast("int", "int"));
    EXPECT_THROW(readOnly.GetRef()->SetBool(true), EBadCastException);
}

TEST(FoundationTypedValue, ListsCompareByTheirFirstElementAndValuesAsText) {
    _value_t_cont_t<std::int32_t> list({10, 20});
    list.SetInt(25, 1);
    list.GetRef(0)->SetInt(15);
    EXPECT_EQ(list.Items(), (std::vector<std::int32_t>{15, 25}));
    EXPECT_THROW(list.GetInt(2), std::out_of_range);

    _value_t_data::Ptr five = MakeValue(5);
    _value_t_data::Ptr listOfFive = five->ToList();
    EXPECT_EQ(listOfFive->Count(), 1u);
    EXPECT_TRUE(five->Equals(listOfFive.Get()));
    EXPECT_FALSE(five->Equals(&list));  // counts differ
    EXPECT_TRUE(five->Less(MakeValue(6).Get()));
    EXPECT_TRUE(MakeValue("abc")->Equals(MakeValue(BStr(u"abc")).Get()));
    EXPECT_THROW(five->Equals(MakeValue("5").Get()), EBadCastException);
    EXPECT_THROW(five->Equals(nullptr), EBadCastException);
    EXPECT_EQ(ValueToText(MakeValue(-1).Get()), "-1");
    EXPECT_EQ(ValueToText(MakeValue(BStr(u"com")).Get()), "com");
    EXPECT_THROW(ValueToText(nullptr), EBadCastException);
    EXPECT_EQ(TimeToText(_time_t{}), "<invalid time>");
    EXPECT_EQ(TimeToText(_time_t{INT64_MAX}), "<invalid time>");  // beyond the platform's calendar
    {
        test_util::ScopedEnv utc("TZ", "UTC");
        ::tzset();
        EXPECT_EQ(TimeToText(_time_t{0}), "Thu Jan  1 00:00:00 1970");
        EXPECT_EQ(TimeToText(_time_t{1700000000}), "Tue Nov 14 22:13:20 2023");
    }
    ::tzset();
}

// Refused with the system error EILSEQ.
auto Eilseq() {
    return testing::ThrowsMessage<ESystemException>(testing::StartsWith("Code: " + std::to_string(EILSEQ) + " "));
}

TEST(FoundationTextConv, ConvertsInTheLocaleOrRefusesAndComStrings) {
    {
        ScopedLocale c("C");
        EXPECT_EQ(AnsiToWide(""), L"");
        EXPECT_EQ(WideToAnsi(L"Quorvis"), "Quorvis");
        EXPECT_EQ(WideToAnsi(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
        EXPECT_THAT([] { AnsiToWide("caf\xc3\xa9"); }, Eilseq());
        EXPECT_THAT([] { WideToAnsi(L"caf\u00e9"); }, Eilseq());
    }
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    EXPECT_EQ(AnsiToWide("caf\xc3\xa9"), L"caf\u00e9");
    EXPECT_EQ(WideToAnsi(L"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_THAT([] { AnsiToWide("ab\xc3"); }, Eilseq());  // cut inside a character
    EXPECT_THAT([] { AnsiToWide("\xff"); }, Eilseq());

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
