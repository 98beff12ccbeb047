#include "platform/variant.h"
#include "platform/hresult_text.h"
#include "platform/ole_date.h"
#include "platform/recordset.h"
#include "tests/support/test_util.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <memory>

namespace {

const NumberFormat kPoint{u"."};
const NumberFormat kComma{u","};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Variant S(const char16_t* text) { return Variant::Str(BStr(text)); }

Decimal Dec(std::string_view digits, int exponent, bool negative = false) {
    return *Decimal::FromDigits(negative, digits, exponent);
}

TEST(Variant, ConversionsThatCanBreak) {
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
        {Variant(), VT_BSTR, S_OK, S(u"")},
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
        {Variant::R8(kNaN), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::R8(kInf), VT_I8, DISP_E_OVERFLOW, {}},
        {Variant::Date(1.75), VT_I4, S_OK, Variant::I4(2)},
        {Variant::Dec(Dec("25", -1)), VT_I4, S_OK, Variant::I4(2)},
        {Variant::Dec(Dec("35", -1)), VT_UI4, S_OK, Variant::UI4(4)},
        {Variant::Dec(Dec("12345678901234567890123", 0)), VT_I8, DISP_E_OVERFLOW, {}},
        {Variant::Dec(Dec("12345678901234567890123", 0)), VT_R8, S_OK, Variant::R8(1.2345678901234567890123e22)},
        {Variant::Dec(Dec("1", 0, true)), VT_UI4, DISP_E_OVERFLOW, {}},
        {Variant::Dec(Dec("150", -2)), VT_BSTR, S_OK, S(u"1.5")},
        {Variant::Dec(Dec("1", -3, true)), VT_BSTR, S_OK, S(u"-0,001"), &kComma},
        {S(u" -7 "), VT_I4, S_OK, Variant::I4(-7)},
        {S(u"2.5"), VT_I4, S_OK, Variant::I4(2)},
        {S(u"2,5"), VT_R8, S_OK, Variant::R8(2.5), &kComma},
        {S(u"2.5"), VT_R8, DISP_E_TYPEMISMATCH, {}, &kComma},
        {S(u"1e3"), VT_UINT, S_OK, Variant::UInt(1000)},
        {S(u"3000000000"), VT_I4, DISP_E_OVERFLOW, {}},
        {S(u"3000000000"), VT_UI4, S_OK, Variant::UI4(3000000000u)},
        {S(u"1e400"), VT_R8, DISP_E_OVERFLOW, {}},
        {S(u"abc"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {S(u""), VT_R8, DISP_E_TYPEMISMATCH, {}},
        {S(u"1,000"), VT_I4, DISP_E_TYPEMISMATCH, {}},
        {S(u"12.345"), VT_DECIMAL, S_OK, Variant::Dec(Dec("12345", -3))},
        {S(u"79228162514264337593543950335"), VT_DECIMAL, S_OK, Variant::Dec(Dec("79228162514264337593543950335", 0))},
        {S(u"79228162514264337593543950336"), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {Variant::R8(0.1), VT_DECIMAL, S_OK, Variant::Dec(Dec("1", -1))},
        {Variant::R8(1.0 / 3), VT_DECIMAL, S_OK, Variant::Dec(Dec("333333333333333", -15))},
        {Variant::R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW, {}},
        {Variant::I8(2147483648LL), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::UI4(4294967295u), VT_I4, DISP_E_OVERFLOW, {}},
        {Variant::I4(-1), VT_UI4, DISP_E_OVERFLOW, {}},
        {Variant::I4(-12), VT_BSTR, S_OK, S(u"-12")},
        {Variant::R8(2.5), VT_BSTR, S_OK, S(u"2,5"), &kComma},
        {Variant::R8(1e20), VT_BSTR, S_OK, S(u"1E+20")},
        {Variant::R8(-0.0), VT_BSTR, S_OK, S(u"0")},
        {Variant::R8(1e7), VT_DATE, DISP_E_OVERFLOW, {}},
        {S(u"1"), VT_DATE, DISP_E_TYPEMISMATCH, {}},
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

TEST(Variant, DatesAsTextTheUserLocaleAndHResultTexts) {
    std::setlocale(LC_ALL, "C");
    Variant out;
    const auto text = [&out](double date) {
        return ChangeType(Variant::Date(date), VT_BSTR, out) == S_OK ? out.Text() : BStr(u"<failed>");
    };
    EXPECT_EQ(text(36526.25), BStr(u"01/01/00 06:00:00"));
    EXPECT_EQ(text(36526.0), BStr(u"01/01/00"));
    EXPECT_EQ(text(0.5), BStr(u"12:00:00"));
    EXPECT_EQ(ChangeType(Variant::Date(-1e7), VT_BSTR, out), DISP_E_OVERFLOW);
    ASSERT_EQ(ChangeType(S(u"0.25"), VT_R8, out), S_OK);  // the C locale's point
    EXPECT_EQ(out.Real(), 0.25);
    EXPECT_EQ(HResultText(MakeHResult(0x800706BA)), "The RPC server is unavailable.");
    EXPECT_EQ(HResultText(MakeHResult(0x800A0E78)), "Operation is not allowed when the object is closed.");
}

TEST(Decimal, RoundingAtTheEdges) {
    // Beyond 28 fractional digits the rest is rounded half to even.
    EXPECT_EQ(Dec("15", -29), Dec("2", -28));
    EXPECT_EQ(Dec("51", -30), Dec("1", -28));
    EXPECT_EQ(Dec("6", -29), Dec("1", -28));
    // Far below 10^-28 nothing is left to round up.
    for (const auto& [digits, exponent] : {std::pair{"5", -29}, {"9", -30}, {"99", -32}, {"9999999999", -1000000}})
        EXPECT_TRUE(Dec(digits, exponent).IsZero()) << digits;
    EXPECT_EQ(Dec("9", -30, true), Dec("0", 0)) << "no negative zero";
    // More significant digits than 96 bits hold: the fraction gives way.
    EXPECT_EQ(Dec("1234567890123456789012345678901", -10).ToPlainText(), "123456789012345678901.23456789");
    EXPECT_EQ(Dec("9223372036854775808", 0, true).RoundToInt64(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(Dec("9223372036854775808", 0).RoundToInt64(), std::nullopt);
    EXPECT_EQ(Dec("5", -1, true).RoundToInt64(), 0);
    EXPECT_EQ(Dec("15", -1, true).RoundToInt64(), -2);
    EXPECT_EQ(Decimal::FromInt64(std::numeric_limits<std::int64_t>::min()).ToPlainText(), "-9223372036854775808");
    EXPECT_EQ(Decimal::FromParts(0, 1, 29, false), std::nullopt);
}

std::time_t Utc(int y, int mo, int d, int h, int mi, int s) {
    std::tm t = test_util::Tm(y, mo, d, h, mi, s);
    return timegm(&t);
}

TEST(OleDate, RefusesWhatIsNoDateAndGivesCalendarFieldsAndText) {
    for (double bad : {kNaN, kInf, -kInf, -657435.0, 2958466.0, 1e300, -1e300}) {
        EXPECT_EQ(OleDateToFields(bad), std::nullopt) << bad;
        EXPECT_EQ(FormatOleDate(bad), std::nullopt) << bad;
        EXPECT_EQ(OleDateToTime(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(OleDateFromFields(2023, 2, 29), std::nullopt);
    EXPECT_EQ(OleDateFromFields(99, 12, 31), std::nullopt);
    EXPECT_EQ(OleDateFromFields(10000, 1, 1), std::nullopt);
    EXPECT_EQ(OleDateFromFields(2000, 1, 1, 24, 0, 0), std::nullopt);

    struct Case {
        double date;
        int y, mo, d, h, mi, s, dayOfWeek, dayOfYear;
    } cases[] = {
        {0.0, 1899, 12, 30, 0, 0, 0, 7, 364},
        {-1.25, 1899, 12, 29, 6, 0, 0, 6, 363},  // the fraction counts forward from the day
        {-0.5, 1899, 12, 30, 12, 0, 0, 7, 364},
        {2.75, 1900, 1, 1, 18, 0, 0, 2, 1},
        {36526.5, 2000, 1, 1, 12, 0, 0, 7, 1},
        {45351.0, 2024, 2, 29, 0, 0, 0, 5, 60},
        {45657.0, 2024, 12, 31, 0, 0, 0, 3, 366},
        {45000.999999999, 2023, 3, 16, 0, 0, 0, 5, 75},  // rounds up into the next day
        {-657434.0, 100, 1, 1, 0, 0, 0, 6, 1},
        {2958465.5, 9999, 12, 31, 12, 0, 0, 6, 365},
    };
    for (const Case& c : cases) {
        std::optional<DateFields> f = OleDateToFields(c.date);
        ASSERT_TRUE(f) << c.date;
        EXPECT_EQ(
            (std::vector<int>{f->year, f->month, f->day, f->hour, f->minute, f->second, f->dayOfWeek, f->dayOfYear}),
            (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.dayOfWeek, c.dayOfYear}))
            << c.date;
        if (c.date != -0.5 && c.date != 45000.999999999) {  // those two have another canonical form
            EXPECT_EQ(OleDateFromFields(c.y, c.mo, c.d, c.h, c.mi, c.s), c.date);
        }
    }
    // As text, in the locale's date and time.
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(FormatOleDate(36526.5), "Sat Jan  1 12:00:00 2000");
    EXPECT_EQ(FormatOleDate(-1.25), "Fri Dec 29 06:00:00 1899");
}

TEST(OleDate, InBerlinDaylightSavingRoundTripsAndSubSecondsCount) {
    const std::shared_ptr<void> retzset(nullptr, [](void*) { tzset(); });  // after the zone is restored
    const test_util::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    // 31 March 2024: at 02:00 CET the clocks went to 03:00 CEST.
    EXPECT_EQ(OleDateToTime(*OleDateFromFields(2024, 3, 31, 1, 59, 59)), Utc(2024, 3, 31, 0, 59, 59));
    EXPECT_EQ(OleDateToTime(*OleDateFromFields(2024, 3, 31, 3, 0, 0)), Utc(2024, 3, 31, 1, 0, 0));
    EXPECT_EQ(*OleDateToTime(*OleDateFromFields(2024, 3, 31, 12, 0, 0)) -
                  *OleDateToTime(*OleDateFromFields(2024, 3, 30, 12, 0, 0)),
              23 * 3600);
    for (std::time_t t = Utc(2024, 3, 30, 20, 0, 0); t < Utc(2024, 3, 31, 23, 0, 0); t += 900) {
        std::optional<double> date = OleDateFromTime(t);
        ASSERT_TRUE(date);
        EXPECT_EQ(OleDateToTime(*date), t);
    }
    // 27 October 2024: 02:00-03:00 happens twice; both map to one local time, which maps back to one of them.
    const std::optional<double> summer = OleDateFromTime(Utc(2024, 10, 27, 0, 30, 0));
    EXPECT_EQ(summer, OleDateFromFields(2024, 10, 27, 2, 30, 0));
    EXPECT_EQ(summer, OleDateFromTime(Utc(2024, 10, 27, 1, 30, 0)));
    std::time_t back = *OleDateToTime(*summer);
    EXPECT_TRUE(back == Utc(2024, 10, 27, 0, 30, 0) || back == Utc(2024, 10, 27, 1, 30, 0));
    EXPECT_EQ(OleDateToFields(*OleDateFromTime(Utc(2024, 7, 1, 10, 0, 0)))->hour, 12);
    // 23:59:59.6 CET; that its day stays the 30th is PeriodRules'.
    EXPECT_NEAR(*OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), 600000000) - *OleDateFromFields(2024, 3, 30, 23, 59, 59),
                0.6 / 86400, 1e-9);
    EXPECT_FALSE(OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), 1000000000));
    EXPECT_FALSE(OleDateFromTime(Utc(2024, 3, 30, 22, 59, 59), -1));
}

TEST(OleDate, DayFieldsNeverRoundIntoTheNextDay) {
    // Saturday 30 December 1899 23:59:59.6 and Friday 29 December 1899 (negative, still counting forward).
    const double lastTenths = (86399.6) / 86400;
    EXPECT_EQ(OleDateToFields(lastTenths)->day, 31);  // rounding, as before
    const auto day = OleDateDayFields(lastTenths);
    ASSERT_TRUE(day);
    EXPECT_EQ((std::vector{day->day, day->dayOfWeek, day->hour + day->minute + day->second}), (std::vector{30, 7, 0}));
    EXPECT_EQ(OleDateDayFields(-1 - lastTenths)->day, 29);
    const auto down = OleDateToFields(lastTenths, SecondRounding::Down);
    EXPECT_TRUE(down->day == 30 && down->second == 59);
    // Whole seconds stay themselves despite the fraction's binary error.
    for (int second = 0; second < 86400; second += 7)
        EXPECT_EQ(OleDateToFields(45000 + second / 86400.0, SecondRounding::Down)->second, second % 60) << second;
    EXPECT_FALSE(OleDateDayFields(kNaN));
    EXPECT_FALSE(OleDateDayFields(1e300));
}

TEST(Recordset, FieldsCursorAndOpenState) {
    Recordset rs(
        {{"ID", adInteger, 4}, {"Name", adVarWChar, 255}, {"Narrow", adVarChar, 50}, {"Icon", adLongVarBinary, -1}});
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(rs.AddRow({Variant::I4(7), S(u"abc"), S(u"\u00e9t\u00e9"), Variant::Bytes({1, 2, 3})}), S_OK);
    EXPECT_EQ(rs.AddRow({Variant::I4(8), Variant::Null(), Variant(), Variant::Null()}), S_OK);
    EXPECT_EQ(rs.AddRow({Variant::I4(9)}), E_INVALIDARG);
    EXPECT_EQ(rs.RecordCount(), 2u);

    Field id, name, narrow, icon, missing, empty;
    ASSERT_TRUE(rs.GetField("ID", id) == S_OK && rs.GetField("Name", name) == S_OK &&
                rs.GetField("Narrow", narrow) == S_OK && rs.GetField(3, icon) == S_OK);  // any case: RecordsetReader
    EXPECT_EQ(rs.GetField("Nope", missing), ADO_E_ITEM_NOT_FOUND);
    EXPECT_NE(rs.ErrorDescription().find("Nope"), std::string::npos);

    const auto size = [](Field& field) {
        std::int64_t bytes = -1;
        return field.GetActualSize(bytes) == S_OK ? bytes : -2;
    };
    // The name in UTF-16 units, the narrow text in UTF-8 bytes.
    EXPECT_EQ((std::vector{size(name), size(narrow), size(icon), size(id)}), (std::vector<std::int64_t>{6, 5, 3, 4}));
    Variant v;
    EXPECT_EQ(rs.MoveNext(), S_OK);
    EXPECT_EQ(id.GetValue(v), S_OK);  // fields follow the cursor
    EXPECT_EQ(v, Variant::I4(8));
    EXPECT_EQ(size(name), 0);
    EXPECT_EQ(rs.MoveNext(), S_OK);
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(id.GetValue(v), ADO_E_NO_CURRENT_RECORD);
    EXPECT_EQ(rs.MoveNext(), ADO_E_NO_CURRENT_RECORD);
    EXPECT_EQ(empty.GetValue(v), E_POINTER);

    rs.Close();
    EXPECT_FALSE(rs.IsOpen());
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_EQ(id.GetValue(v), ADO_E_OBJECT_CLOSED);
    EXPECT_EQ(rs.SetSort("ID"), ADO_E_OBJECT_CLOSED);
}

TEST(Recordset, SortIsStableCaseInsensitiveAndMultiKey) {
    std::setlocale(LC_ALL, "C.UTF-8");
    Recordset rs({{"Name", adVarWChar, 50}, {"TimeSpent", adBigInt, 8}, {"Seq", adInteger, 4}});
    rs.AddRow({S(u"bob"), Variant::I8(5), Variant::I4(0)});
    rs.AddRow({S(u"Alice"), Variant::R8(2.5), Variant::I4(1)});
    rs.AddRow({Variant::Null(), Variant::I4(10), Variant::I4(2)});
    rs.AddRow({S(u"ALICE"), Variant::Dec(Dec("3", 0)), Variant::I4(3)});
    rs.AddRow({S(u"alice"), Variant::R8(2.5), Variant::I4(4)});
    rs.AddRow({S(u"\u00c9mile"), Variant::R8(kNaN), Variant::I4(5)});
    rs.AddRow({S(u"Bob"), Variant(), Variant::I4(6)});

    auto seq = [&] {
        std::vector<std::int64_t> out;
        Field field;
        EXPECT_EQ(rs.GetField("seq", field), S_OK);
        Variant v;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) out.push_back(field.GetValue(v) == S_OK ? v.Integer() : -1);
        return out;
    };
    ASSERT_EQ(rs.SetSort("Name Asc, TimeSpent Desc"), S_OK);
    EXPECT_EQ(seq(), (std::vector<std::int64_t>{2, 3, 1, 4, 0, 6, 5}));
    ASSERT_EQ(rs.SetSort("timespent desc"), S_OK);
    EXPECT_EQ(seq(), (std::vector<std::int64_t>{2, 0, 3, 1, 4, 5, 6}));  // null and NaN last in Desc
    ASSERT_EQ(rs.SetSort("[TimeSpent]"), S_OK);
    EXPECT_EQ(seq(), (std::vector<std::int64_t>{6, 5, 1, 4, 3, 0, 2}));

    EXPECT_EQ(rs.SetSort("Name Asc, Duration Desc"), ADO_E_ITEM_NOT_FOUND);
    EXPECT_NE(rs.ErrorDescription().find("Duration"), std::string::npos);
    EXPECT_EQ(rs.SetSort("Name Up"), ADO_E_ITEM_NOT_FOUND);
    EXPECT_EQ(rs.SetSort("Name,,Seq"), ADO_E_INVALID_ARGUMENT);
    EXPECT_EQ(rs.SetSort(" Desc"), ADO_E_ITEM_NOT_FOUND);
    EXPECT_EQ(rs.Sort(), "[TimeSpent]");  // a refused sort keeps the last one
    EXPECT_EQ(seq(), (std::vector<std::int64_t>{6, 5, 1, 4, 3, 0, 2}));
    ASSERT_EQ(rs.SetSort(""), S_OK);
    EXPECT_EQ(seq(), (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6}));
}

}  // namespace
