#include "platform/variant.h"
#include "platform/hresult_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace {

const NumberFormat kPoint{u"."};
const NumberFormat kComma{u","};

Decimal Dec(std::string_view digits, int exponent, bool negative = false) {
    return *Decimal::FromDigits(negative, digits, exponent);
}

TEST(Variant, ConversionsThatCanBreak) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Variant src;
        VARTYPE to;
        HRESULT hr;
        Variant expected;
        const NumberFormat* format = &kPoint;
    } cases[] = {
        {Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
        {Variant(), VT_I4, S_OK, Variant::I4(0)},
        {Variant(), VT_BSTR, S_OK, Variant::Str(BStr(u""))},
        {Variant::R8(2.9), VT_I4, S_OK, Variant::I4(3)},
        {Variant::R8(-2.9), VT_I4, S_OK, Variant::I4(-3)},
        {Variant::R8(2.5), VT_I4, S_OK, Variant::I4(2)},
        {Variant::R8(3.5), VT_I4, S_OK, Variant::I4(4)},
        {Variant::R8(-2.5), VT_I4, S_OK, Variant::I4(-2)},
        {Variant::R8(-3.5), VT_INT, S_OK, Variant::Int(-4)},
        {Variant::R8(2147483647.4), VT_I4, S_OK, Variant::I4(2147483647)},
        {Variant::R8(2147483647.5), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::R8(-2147483648.5), VT_I4, S_OK, Variant::I4(-2147483647 - 1)},
        {Variant::R8(-0.4), VT_UI4, S_OK, Variant::UI4(0)},
        {Variant::R8(-0.6), VT_UINT, DISP_E_OVERFLOW, {}},
        {Variant::R8(4294967296.0), VT_UI4, DISP_E_OVERFLOW, {}},
        {Variant::R8(nan), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::R8(inf), VT_I8, DISP_E_OVERFLOW, {}},
        {Variant::Date(1.75), VT_I4, S_OK, Variant::I4(2)},
        {Variant::Dec(Dec("25", -1)), VT_I4, S_OK, Variant::I4(2)},
        {Variant::Dec(Dec("35", -1)), VT_UI4, S_OK, Variant::UI4(4)},
        {Variant::Dec(Dec("12345678901234567890123", 0)), VT_I8, DISP_E_OVERFLOW, {}},
        {Variant::Dec(Dec("12345678901234567890123", 0)), VT_R8, S_OK, Variant::R8(1.2345678901234567890123e22)},
        {Variant::Dec(Dec("1", 0, true)), VT_UI4, DISP_E_OVERFLOW, {}},
        {Variant::Dec(Dec("150", -2)), VT_BSTR, S_OK, Variant::Str(BStr(u"1.5"))},
        {Variant::Dec(Dec("1", -3, true)), VT_BSTR, S_OK, Variant::Str(BStr(u"-0,001")), &kComma},
        {Variant::Str(BStr(u" -7 ")), VT_I4, S_OK, Variant::I4(-7)},
        {Variant::Str(BStr(u"2.5")), VT_I4, S_OK, Variant::I4(2)},
        {Variant::Str(BStr(u"2,5")), VT_R8, S_OK, Variant::R8(2.5), &kComma},
        {Variant::Str(BStr(u"2.5")), VT_R8, DISP_E_TYPEMISMATCH, {}, &kComma},
        {Variant::Str(BStr(u"1e3")), VT_UINT, S_OK, Variant::UInt(1000)},
        {Variant::Str(BStr(u"3000000000")), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::Str(BStr(u"3000000000")), VT_UI4, S_OK, Variant::UI4(3000000000u)},
        {Variant::Str(BStr(u"1e400")), VT_R8, DISP_E_OVERFLOW, {}},
        {Variant::Str(BStr(u"abc")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Variant::Str(BStr(u"")), VT_R8, DISP_E_TYPEMISMATCH, {}},
        {Variant::Str(BStr(u"1,000")), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Variant::Str(BStr(u"12.345")), VT_DECIMAL, S_OK, Variant::Dec(Dec("12345", -3))},
        {Variant::Str(BStr(u"79228162514264337593543950335")), VT_DECIMAL, S_OK,
         Variant::Dec(Dec("79228162514264337593543950335", 0))},
        {Variant::Str(BStr(u"79228162514264337593543950336")), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {Variant::R8(0.1), VT_DECIMAL, S_OK, Variant::Dec(Dec("1", -1))},
        {Variant::R8(1.0 / 3), VT_DECIMAL, S_OK, Variant::Dec(Dec("333333333333333", -15))},
        {Variant::R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {Variant::I8(2147483648LL), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::UI4(4294967295u), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::I4(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {Variant::I4(-12), VT_BSTR, S_OK, Variant::Str(BStr(u"-12"))},
        {Variant::R8(2.5), VT_BSTR, S_OK, Variant::Str(BStr(u"2,5")), &kComma},
        {Variant::R8(1e20), VT_BSTR, S_OK, Variant::Str(BStr(u"1E+20"))},
        {Variant::R8(-0.0), VT_BSTR, S_OK, Variant::Str(BStr(u"0"))},
        {Variant::R8(1e7), VT_DATE, DISP_E_OVERFLOW, {}},
        {Variant::Str(BStr(u"1")), VT_DATE, DISP_E_TYPEMISMATCH, {}},
        {Variant::Bytes({1, 2}), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {Variant::I4(1), VT_BYTE_ARRAY, DISP_E_TYPEMISMATCH, {}},
        {Variant::I4(1), 2, DISP_E_BADVARTYPE, {}},
    };
    for (const Case& c : cases) {
        Variant out = Variant::I4(99);
        HRESULT hr = ChangeType(c.src, c.to, out, *c.format);
        SCOPED_TRACE(testing::Message() << "tag " << c.src.Type() << " to " << c.to << " hr " << std::hex << hr);
        EXPECT_EQ(hr, c.hr);
        EXPECT_EQ(out, Succeeded(c.hr) ? c.expected : Variant::I4(99));  // a failure leaves out alone
    }
}

TEST(Variant, DatesAsTextAndTheUserLocale) {
    std::setlocale(LC_ALL, "C");
    Variant out;
    const auto text = [&out](double date) {
        return ChangeType(Variant::Date(date), VT_BSTR, out) == S_OK ? out.Text() : BStr(u"<failed>");
    };
    EXPECT_EQ(text(36526.25), BStr(u"01/01/00 06:00:00"));
    EXPECT_EQ(text(36526.0), BStr(u"01/01/00"));
    EXPECT_EQ(text(0.5), BStr(u"12:00:00"));
    EXPECT_EQ(ChangeType(Variant::Date(-1e7), VT_BSTR, out), DISP_E_OVERFLOW);
    ASSERT_EQ(ChangeType(Variant::Str(BStr(u"0.25")), VT_R8, out), S_OK);  // the C locale's point
    EXPECT_EQ(out.Real(), 0.25);
}

TEST(Decimal, RoundingAtTheEdges) {
    // Beyond 28 fractional digits the rest is rounded half to even.
    EXPECT_TRUE(Dec("5", -29).IsZero());
    EXPECT_EQ(Dec("15", -29), Dec("2", -28));
    EXPECT_EQ(Dec("51", -30), Dec("1", -28));
    // Far below 10^-28 nothing is left to round up.
    EXPECT_TRUE(Dec("9", -30).IsZero());
    EXPECT_TRUE(Dec("99", -32).IsZero());
    EXPECT_EQ(Dec("9", -30, true), Dec("0", 0)) << "no negative zero";
    EXPECT_TRUE(Dec("9999999999", -1000000).IsZero());
    EXPECT_EQ(Dec("6", -29), Dec("1", -28));
    // More significant digits than 96 bits hold: the fraction gives way.
    EXPECT_EQ(Dec("1234567890123456789012345678901", -10).ToPlainText(), "123456789012345678901.23456789");
    EXPECT_EQ(Dec("9223372036854775808", 0, true).RoundToInt64(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(Dec("9223372036854775808", 0).RoundToInt64(), std::nullopt);
    EXPECT_EQ(Dec("5", -1, true).RoundToInt64(), 0);
    EXPECT_EQ(Dec("15", -1, true).RoundToInt64(), -2);
    EXPECT_EQ(Decimal::FromInt64(std::numeric_limits<std::int64_t>::min()).ToPlainText(), "-9223372036854775808");
    EXPECT_EQ(Decimal::FromParts(0, 1, 29, false), std::nullopt);
}

TEST(HResultText, KnownAndUnknownCodes) {
    EXPECT_EQ(HResultText(MakeHResult(0x800706BA)), "The RPC server is unavailable.");
    EXPECT_EQ(HResultText(MakeHResult(0x800A0E78)), "Operation is not allowed when the object is closed.");
    EXPECT_EQ(HResultText(MakeHResult(0x80041234)), "");
}

}  // namespace
