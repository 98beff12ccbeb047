// Typed values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include "foundation/exceptions.h"
#include "foundation/type_name.h"
#include "foundation/typed_value.h"
#include "tests/support/test_util.h"

namespace {

using test_util::ScopedLocale;

// "From -> To" of the EBadCastException that the call raised.
template <class F>
std::string BadCast(F call) {
    try {
        call();
    } catch (const EBadCastException& e) {
        return e.GetField("From")->GetString() + " -> " + e.GetField("To")->GetString();
    }
    return "no EBadCastException";
}

TEST(FoundationTypedValue, IntegersConvertToNumbersOnly) {
    _value_t_data_t<std::int32_t> value(-7);
    EXPECT_EQ(value.GetInt(), -7);
    EXPECT_EQ(value.GetUInt(), 4294967289u);
    EXPECT_EQ(value.GetInt64(), -7);
    EXPECT_EQ(value.GetDouble(), -7.0);
    EXPECT_EQ(BadCast([&] { value.GetString(); }), "int -> " + TypeName(typeid(std::string)));
    EXPECT_EQ(BadCast([&] { value.GetBool(); }), "int -> bool");
    EXPECT_EQ(BadCast([&] { value.GetTime(); }), "int -> _time_t");
    value.SetUInt(0xFFFFFFFFu);
    EXPECT_EQ(value.Value(), -1);
    value.SetBool(true);
    EXPECT_EQ(value.Value(), 1);
    EXPECT_EQ(BadCast([&] { value.SetString("1"); }), "int -> " + TypeName(typeid(std::string)));
    EXPECT_EQ(BadCast([&] { value.SetDouble(1); }), "int -> double");
}

TEST(FoundationTypedValue, TextsConvertToTextsOnly) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    _value_t_data_t<std::string> narrow("12");
    EXPECT_EQ(BadCast([&] { narrow.GetInt(); }), TypeName(typeid(std::string)) + " -> int");  // no parsing
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
    EXPECT_EQ(BadCast([&] { com.GetDouble(); }), "BStr -> double");
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
    EXPECT_EQ(BadCast([&] { readOnly.SetInt(4); }), "int -> int");
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

}  // namespace
