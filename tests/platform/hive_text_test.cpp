#include "platform/hive_text.h"

#include <gtest/gtest.h>

namespace {

const std::string kHead = "WINE REGISTRY Version 2\n";

TEST(HiveText, BadInputIsRefusedWithItsLineNumber) {
    struct Case {
        std::string text;
        std::string where;
    } cases[] = {
        {"", "line 1:"},
        {"WINE REGISTRY Version 1\n[A] 0\n", "line 1:"},
        {"REGEDIT4\n", "line 1:"},
        {kHead + "\n[A] 0\n\"x\"=\"a" + std::string(1, '\0') + "b\"\n", "line 4:"},
        {kHead + "\"x\"=dword:00000001\n", "line 2:"},
        {kHead + "[A] 0\n\"x\"=\"abc\n", "line 3:"},
        {kHead + "[A] 0\n\"x=\"abc\"\n", "line 3:"},
        {kHead + "[A\\\\B 0\n", "line 2:"},
        {kHead + "[A\\\\\\\\B] 0\n", "line 2:"},
        {kHead + "[A] 12x\n", "line 2:"},
        {kHead + "[A] 0\n\"x\"=\"\\xg\"\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=dword:\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=dword:0000zz00\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=dword:123456789\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=hex:0,1\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=hex:01,023\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=hex:01,,02\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=hex:01,02,\\\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=hex:01,\\\n  02,\\", "line 4:"},
        {kHead + "[A] 0\n\"x\"=hex(zz):01\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=qword:1\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=\"a\" b\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"\n", "line 3:"},
        {kHead + "[A] 0\n\"x\"=\"\xC3\x28\"\n", "line 3:"},
        {kHead + "[A] 0\nvalue\n", "line 3:"},
    };
    for (const Case& c : cases) {
        HiveTree tree;
        std::string error;
        EXPECT_FALSE(ParseHiveText(c.text, tree, error)) << c.text;
        EXPECT_EQ(error.rfind(c.where, 0), 0u) << c.text << " -> " << error;
    }
}

TEST(HiveText, ToleratedInputAndStrayCarriageReturns) {
    std::string text =
        "WINE REGISTRY Version 2\r\n;; comment\r\n#arch=win64\r\n\r\n[Software\\\\A] 5\r\n#time=1d0\r\n"
        "\"s\"=\"v\"\r\n\"x\"=\"\\x00e9a\\x41424\"\r\n\"dup\"=\"1\"\r\n\"DUP\"=\"2\"\r\n"
        "[software\\\\a] 6\r\n\"later\"=dword:a\r\n\"o\"=\"\\101\\tb\\q\"\r\n\"h\"=hex:01,02,\r\n";
    HiveTree tree;
    std::string error;
    ASSERT_TRUE(ParseHiveText(text, tree, error)) << error;
    HiveKey* key = tree.OpenKey(u"SOFTWARE\\a", false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Path(), u"Software\\A");
    EXPECT_EQ(key->GetString(u"s"), u"v");               // no carriage return kept
    EXPECT_EQ(key->GetString(u"x"), u"\u00e9a\u41424");  // \x takes at most four digits
    EXPECT_EQ(key->GetString(u"dup"), u"2");             // the last one wins
    EXPECT_EQ(key->ValueNames(), (std::vector<std::u16string>{u"s", u"x", u"dup", u"later", u"o", u"h"}));
    EXPECT_EQ(key->GetDword(u"later"), 10u);
    EXPECT_EQ(key->GetString(u"o"), u"A\tbq");
    EXPECT_EQ(key->GetValue(u"h"), (RegValue{REG_BINARY, {1, 2}}));
    EXPECT_EQ(tree.Preamble(), std::vector<std::string>{"#arch=win64"});
    EXPECT_EQ(key->Options(), std::vector<std::string>{"#time=1d0"});

    // Stray carriage returns end the line and are not written back.
    const std::string strays = kHead + "#opt=1\r\r\r\n[A] 7\r\r\n#time=1\r\r\n\"x\"=\"y\"\r\r\n";
    HiveTree strayTree;
    ASSERT_TRUE(ParseHiveText(strays, strayTree, error)) << error;
    EXPECT_EQ(strayTree.Preamble(), std::vector<std::string>{"#opt=1"});
    const std::string written = FormatHiveText(strayTree);
    EXPECT_EQ(written.find('\r'), std::string::npos) << written;
    HiveTree again;
    ASSERT_TRUE(ParseHiveText(written, again, error)) << error;
    EXPECT_EQ(FormatHiveText(again), written);
    EXPECT_EQ(again.OpenKey(u"A", false)->GetString(u"x"), u"y");
}

TEST(HiveText, ValuesRoundTripThroughTheText) {
    HiveTree tree;
    HiveKey* key = tree.OpenKey(u"Software\\Marrowind Software\\Quorvis\\Viewer", true);
    ASSERT_NE(key, nullptr);
    const std::uint8_t date[8] = {0, 0, 0, 0, 0x40, 0x5a, 0xe5, 0x40};
    std::vector<std::uint8_t> big(300);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    const std::u16string odd = u"say \"hi\" C:\\dir\\ \u00e9\u4e2d\U0001F600\n\t\x7f end";
    key->SetBinary(u"StartDate", date);
    key->SetBinary(u"Big", big);
    key->SetBinary(u"Empty", {});
    key->SetDword(u"PeriodType", 0xA0000003u);
    key->SetString(u"Server", odd);
    key->SetString(u"", u"default");
    key->SetString(u"a name with \"quotes\" and \\", u"");
    key->SetValue(u"Unterminated", RegValue{REG_SZ, {'a', 0, 'b'}});
    key->SetValue(u"Multi", RegValue{REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0}});
    key->SetString(u"Server", odd);  // set twice: one entry

    std::string text = FormatHiveText(tree);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }
    for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);
    EXPECT_EQ(text.find("[Software\\\\Marrowind Software\\\\Quorvis\\\\Viewer] "), text.find('['));

    HiveTree back;
    std::string error;
    ASSERT_TRUE(ParseHiveText(text, back, error)) << error << "\n" << text;
    HiveKey* read = back.OpenKey(u"software\\marrowind software\\QUORVIS\\viewer", false);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->ValueNames(), key->ValueNames());
    for (const std::u16string& name : key->ValueNames()) EXPECT_EQ(read->GetValue(name), key->GetValue(name));
    EXPECT_EQ(read->GetString(u"SERVER"), odd);
    // Parents that only hold subkeys are not written, but still exist.
    EXPECT_EQ(text.find("[Software] "), std::string::npos);
    EXPECT_NE(back.OpenKey(u"Software\\Marrowind Software", false), nullptr);
    EXPECT_EQ(back.OpenKey(u"Software\\Other", false), nullptr);
}

TEST(HiveText, TypesThisProgramDoesNotWriteAreKeptExactly) {
    const std::string multi = "\"Multi\"=hex(7):41,00,00,00,\\\n    42,00,00,00,00,00";
    const std::string expand = "\"Path\"=str(2):\"%HOME%\\\\x\"";
    const std::string text = kHead + "\n[A] 7\n" + multi + "\n" + expand + "\n\"d\"=dword:00000001\n";
    HiveTree tree;
    std::string error;
    ASSERT_TRUE(ParseHiveText(text, tree, error)) << error;
    HiveKey* key = tree.OpenKey(u"A", false);
    EXPECT_EQ(key->GetValue(u"Multi"), (RegValue{7, {0x41, 0, 0, 0, 0x42, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(key->GetString(u"path"), u"%HOME%\\x");
    EXPECT_EQ(key->GetValue(u"path")->type, REG_EXPAND_SZ);
    key->SetDword(u"d", 2);
    std::string out = FormatHiveText(tree);
    EXPECT_NE(out.find(multi + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(expand + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\"d\"=dword:00000002\n"), std::string::npos) << out;
}

}  // namespace
