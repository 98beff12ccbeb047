#include "platform/recordset.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

namespace {

Variant S(const char16_t* text) { return Variant::Str(BStr(text)); }

std::vector<Variant> Column(Recordset& rs, std::string_view name) {
    std::vector<Variant> values;
    Field field;
    EXPECT_EQ(rs.GetField(name, field), S_OK);
    EXPECT_EQ(rs.MoveFirst(), S_OK);
    for (; !rs.IsEOF(); rs.MoveNext()) {
        Variant v;
        EXPECT_EQ(field.GetValue(v), S_OK);
        values.push_back(v);
    }
    return values;
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
    ASSERT_EQ(rs.GetField("Id", id), S_OK);  // as ADO: case-insensitive
    EXPECT_EQ(id.Name(), "ID");
    ASSERT_EQ(rs.GetField("NAME", name), S_OK);
    ASSERT_EQ(rs.GetField("narrow", narrow), S_OK);
    ASSERT_EQ(rs.GetField(3, icon), S_OK);
    EXPECT_EQ(icon.Type(), adLongVarBinary);
    EXPECT_EQ(rs.GetField("Nope", missing), ADO_E_ITEM_NOT_FOUND);
    EXPECT_NE(rs.ErrorDescription().find("Nope"), std::string::npos);

    const auto size = [](Field& field) {
        std::int64_t bytes = -1;
        return field.GetActualSize(bytes) == S_OK ? bytes : -2;
    };
    EXPECT_EQ(size(name), 6);    // three UTF-16 units
    EXPECT_EQ(size(narrow), 5);  // UTF-8 bytes
    EXPECT_EQ(size(icon), 3);
    EXPECT_EQ(size(id), 4);
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
    const double nan = std::numeric_limits<double>::quiet_NaN();
    rs.AddRow({S(u"bob"), Variant::I8(5), Variant::I4(0)});
    rs.AddRow({S(u"Alice"), Variant::R8(2.5), Variant::I4(1)});
    rs.AddRow({Variant::Null(), Variant::I4(10), Variant::I4(2)});
    rs.AddRow({S(u"ALICE"), Variant::Dec(*Decimal::FromDigits(false, "3", 0)), Variant::I4(3)});
    rs.AddRow({S(u"alice"), Variant::R8(2.5), Variant::I4(4)});
    rs.AddRow({S(u"\u00c9mile"), Variant::R8(nan), Variant::I4(5)});
    rs.AddRow({S(u"Bob"), Variant(), Variant::I4(6)});

    auto seq = [&] {
        std::vector<std::int64_t> out;
        for (const Variant& v : Column(rs, "seq")) out.push_back(v.Integer());
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
