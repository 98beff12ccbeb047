#include "service/recordset_reader.h"
#include "foundation/debug_stream.h"
#include "service/data_access_error.h"
#include "tests/support/fake_qv_query.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>

namespace {

using qv::test::Text;

struct CaptureWriter : TStreamWriter {
    void Write(const char* bytes, std::uint32_t count) noexcept override { text.append(bytes, count); }
    std::string text;
};

RecordsetPtr MakeRecordset(std::vector<FieldDef> fields, std::vector<std::vector<Variant>> rows) {
    return qv::test::MakeRecordset({std::move(fields), std::move(rows)});
}

}  // namespace

TEST(RecordsetReaderTrace, WritesEachRowAndTheEndLineByteForByteWhenTheCategoryIsOn) {
    TraceStream.RemoveAllWriters();
    RecordsetReader quiet(MakeRecordset({{"ID", adInteger, 4}}, {{Variant::I4(1)}}));  // no writer: no crash
    quiet.MoveNext();
    // A capturing writer with the result-set category on, as a developer would attach to see the rows.
    auto* trace = new CaptureWriter;  // owned by the stream
    TraceStream.AddWriter(SmartPtr<TStreamWriter>(trace));
    TraceStream.Categories().reset(kRecordsetTraceCategory);
    RecordsetReader off(MakeRecordset({{"ID", adInteger, 4}}, {{Variant::I4(1)}}));
    off.MoveNext();
    TraceStream.Categories().set(kRecordsetTraceCategory);
    EXPECT_EQ(trace->text, "");

    std::u16string exact(128, u'x');
    std::u16string tooLong(129, u'y');
    RecordsetReader reader(MakeRecordset(
        {{"ID", adInteger, 4}, {"Name", adVarWChar, 255}, {"", adDouble, 8}, {"Icon", adLongVarBinary, 0}},
        {{Variant::I4(7), Text(u"abc"), Variant::Null(), Variant::Bytes({1, 2, 3})},
         {Variant::I4(-1), Text(exact), Variant::I8(5), Variant::Null()},
         {Variant(), Text(tooLong), Variant::Bytes({9, 9}), Variant::Null()}}));
    reader.SetSort("");
    while (!reader.IsEOF()) reader.MoveNext();

    // The first row is written when the reader is made; SetSort writes nothing.
    std::string expected = "[SQL] ID=7,Name='abc',#2=<null>,Icon=<blob 3 bytes long>\n";
    expected += "[SQL] ID=-1,Name='" + std::string(128, 'x') + "',#2=5,Icon=<blob 0 bytes long>\n";
    expected += "[SQL] ID=<null>,Name=<long string>,#2=<blob 2 bytes long>,Icon=<blob 0 bytes long>\n";
    expected += "[SQL] ----- End of Recordset -----\n";
    EXPECT_EQ(trace->text, expected);

    // An empty open result set writes only the end line.
    RecordsetReader empty(MakeRecordset({{"ID", adInteger, 4}}, {}));
    EXPECT_TRUE(empty.IsEOF());
    EXPECT_EQ(trace->text, expected + "[SQL] ----- End of Recordset -----\n");

    // Invalid dates and unknown tags are named.
    const std::size_t before = trace->text.size();
    RecordsetReader dates(
        MakeRecordset({{"When", adDate, 8}, {"Cost", 6, 8}}, {{Variant::Date(1e9), Variant::Unsupported(6)}}));
    const std::string line = trace->text.substr(before);
    EXPECT_EQ(line.rfind("[SQL] When=invalid time(", 0), 0u) << line;
    EXPECT_NE(line.find("),Cost=unknown vt=#6\n"), std::string::npos) << line;
    TraceStream.RemoveAllWriters();
}

TEST(RecordsetReader, FailuresArriveAsTheDataAccessError) {
    RecordsetReader empty(nullptr);
    try {
        empty.IsEOF();
        FAIL() << "an empty result set was used";
    } catch (const DataAccessError& error) {
        EXPECT_EQ(static_cast<std::uint32_t>(error.Status()), 0x80004003u);
    }

    RecordsetReader reader(MakeRecordset({{"ID", adInteger, 4}, {"Name", adVarWChar, 10}},
                                         {{Variant::I4(2), Text(u"b")}, {Variant::I4(1), Text(u"A")}}));
    EXPECT_THROW(reader.GetField("Missing"), DataAccessError);
    EXPECT_THROW(reader.SetSort("Missing Asc"), DataAccessError);
    reader.SetSort("Name Asc");
    EXPECT_EQ(GetFieldInt(reader.GetField("Id")), 1);  // lookup ignores case
    reader.MoveNext();
    reader.MoveNext();
    EXPECT_TRUE(reader.IsEOF());
    EXPECT_THROW(reader.MoveNext(), DataAccessError);
    EXPECT_THROW(GetFieldInt(Field()), DataAccessError);
}

TEST(FieldReaders, ConvertByTheVariantRules) {
    std::setlocale(LC_ALL, "C");
    const auto decimal = [](bool negative, const char* digits, int scale) {
        return Variant::Dec(*Decimal::FromDigits(negative, digits, scale));
    };
    const struct {
        Variant value;
        std::optional<std::int32_t> asInt;  // none: refused
        std::optional<double> asDouble = {};
        std::optional<std::u16string> asText = {};
    } cases[] = {
        {Variant::Null(), 0, 0.0, u""},
        {Variant(), 0},
        {Variant::R8(2.9), 2, {}, u"2.9"},  // truncated, not rounded
        {Variant::R8(-2.9), -2},
        {Variant::R8(2.5), 2},
        {Variant::I4(-7), -7, -7.0},
        {decimal(false, "42", 0), 42},
        {decimal(true, "75", -1), -7},  // -7.5 has no unsigned form: via the double, truncated
        {decimal(false, "123456789012345678901", 0),
         {},
         1.2345678901234568e20},  // too large even for the leading digits
        {Text(u"12"), 12},        // text through the unsigned conversion
        {Variant::I8(5'000'000'000), {}, 5e9},
        {Variant::R8(1e12), {}},  // a real beyond 32 bits is refused, not undefined
        {Variant::UI4(4'000'000'000u), static_cast<std::int32_t>(4'000'000'000u)},  // the unsigned bits
    };
    std::vector<std::vector<Variant>> rows;
    for (const auto& c : cases) rows.push_back({c.value});
    RecordsetReader reader(MakeRecordset({{"V", adDouble, 8}}, std::move(rows)));
    Field v = reader.GetField("V");
    for (std::size_t row = 0; row < std::size(cases); ++row, reader.MoveNext()) {
        const auto& c = cases[row];
        if (c.asInt)
            EXPECT_EQ(GetFieldInt(v), *c.asInt) << row;
        else
            EXPECT_THROW(GetFieldInt(v), DataAccessError) << row;
        if (c.asDouble) {
            EXPECT_NEAR(GetFieldDouble(v), *c.asDouble, std::abs(*c.asDouble) * 1e-14) << row;
        }
        if (c.asText) {
            EXPECT_EQ(GetFieldString(v), *c.asText) << row;
        }
    }
}
