// Exceptions and their text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <latch>
#include <thread>

#include "foundation/exceptions.h"
#include "foundation/type_name.h"

namespace {

// The first `count` lines of the text.
std::string Head(const std::string& text, int count) {
    std::size_t end = text.find('\n');
    while (--count > 0 && end != std::string::npos) end = text.find('\n', end + 1);
    return text.substr(0, end);
}

TEST(FoundationException, RendersFieldsInTheOrderOfTheirFirstAddition) {
    EGeneric e;  // no fields, and no stack step
    EXPECT_STREQ(e.what(), "");
    e.SetField("Text", "Something failed");
    EXPECT_STREQ(e.what(), "Something failed");  // a lone "Text" is the bare text
    e.SetField("Code", -1);
    e.SetField("Line", 18);
    e.SetField("Empty", _value_t_data::Ptr());
    e.SetField("Com", MakeValue(BStr(u"com")));
    e.SetField("Code", "replaced in place");
    EXPECT_STREQ(e.what(), "Text: Something failed\nCode: replaced in place\nLine: 18 (0x12)\nEmpty: \nCom: com");
    e.SetField("Code", -1);
    EXPECT_EQ(Head(e.what(), 2), "Text: Something failed\nCode: -1 (0xffffffff)");
    EXPECT_EQ(e.FieldNames(), (std::vector<std::string>{"Text", "Code", "Line", "Empty", "Com"}));

    // Constructed with fields: the stack comes last.
    EStructuredException s({{"Text", "a"}, {"Code", 1}});
    EXPECT_EQ(s.FieldNames(), (std::vector<std::string>{"Text", "Code", "Stack"}));
    EXPECT_EQ(s.GetField("Stack")->GetString().rfind("\n-> ", 0), 0u);
    EXPECT_EQ(Head(s.what(), 3), "Text: a\nCode: 1 (0x1)\nStack: ");
}

TEST(FoundationException, CopiesShareValuesButNeverTheirText) {
    EGeneric original;
    original.SetField("Text", "shared");
    original.SetField("Code", 3);
    EGeneric copy = original;
    EXPECT_EQ(copy.GetField("Text").Get(), original.GetField("Text").Get());
    const char* originalText = original.what();
    EXPECT_NE(copy.what(), originalText);
    copy.SetField("Code", 4);
    EXPECT_STREQ(copy.what(), "Text: shared\nCode: 4 (0x4)");
    EXPECT_STREQ(originalText, "Text: shared\nCode: 3 (0x3)");
    EXPECT_EQ(original.what(), originalText);  // unchanged text, same storage
}

TEST(FoundationException, RenderingOnManyThreadsKeepsEachText) {
    constexpr int kThreads = 4;
    std::vector<EGeneric> errors(kThreads);
    std::vector<int> wrong(kThreads, 0);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        errors[i].SetField("Code", i);
        threads.emplace_back([&, i] {
            const std::string expected = "Code: " + std::to_string(i) + " (0x" + std::to_string(i) + ")";
            start.arrive_and_wait();
            for (int round = 0; round < 500; ++round) {
                const char* text = errors[i].what();
                errors[(i + 1) % kThreads].what();  // another exception, rendered meanwhile
                wrong[i] += expected != text;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

TEST(FoundationException, SystemBadCastAndNotImplementedFields) {
    try {
        errno = EIO;
        ThrowSystemError();
    } catch (const std::exception& e) {
        EXPECT_EQ(Head(e.what(), 3), "Code: 5 (0x5)\nText: " + std::string(std::strerror(EIO)) + "\nStack: ");
    }
    EXPECT_EQ(Head(ESystemException(4000).what(), 2), "Code: 4000 (0xfa0)\nText: ");  // no message
    EXPECT_EQ(TrimTrailingLineBreaks("Access is denied.\r\n\r\n"), "Access is denied.");
    EXPECT_EQ(TrimTrailingLineBreaks("two\nlines\n\r"), "two\nlines");
    EXPECT_EQ(Head(EBadCastException(typeid(std::int32_t), typeid(std::string)).what(), 4),
              "Text: Bad cast\nFrom: " + TypeName(typeid(std::string)) + "\nTo: int\nStack: ");
    EXPECT_EQ(Head(ENotImplemented("F::G", "f.cpp", -2).what(), 5),
              "Text: Not implemented\nSourceFile: f.cpp\nSourceLine: -2 (0xfffffffe)\nFunction: F::G\nStack: ");
}

}  // namespace
