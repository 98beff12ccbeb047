#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <latch>
#include <memory>
#include <thread>

#include "foundation/exceptions.h"
#include "foundation/stack.h"
#include "foundation/type_name.h"

namespace {

// Runs body(i) on `count` threads that start together.
template <class Body>
void OnThreads(int count, Body body) {
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back([&, i] { start.arrive_and_wait(), body(i); });
    for (std::thread& t : threads) t.join();
}

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
    EXPECT_EQ(e.FieldNames(), (std::vector<std::string>{"Text", "Code", "Line", "Empty", "Com"}));

    // Copies share values but never their text.
    EGeneric copy = e;
    EXPECT_EQ(copy.GetField("Text").Get(), e.GetField("Text").Get());
    const char* originalText = e.what();
    EXPECT_NE(copy.what(), originalText);
    copy.SetField("Code", 4);
    EXPECT_EQ(Head(copy.what(), 2), "Text: Something failed\nCode: 4 (0x4)");
    EXPECT_EQ(Head(originalText, 2), "Text: Something failed\nCode: -1 (0xffffffff)");
    EXPECT_EQ(e.what(), originalText);  // unchanged text, same storage

    // Constructed with fields: the stack comes last.
    EStructuredException s({{"Text", "a"}, {"Code", 1}});
    EXPECT_EQ(s.FieldNames(), (std::vector<std::string>{"Text", "Code", "Stack"}));
    EXPECT_EQ(s.GetField("Stack")->GetString().rfind("\n-> ", 0), 0u);
    EXPECT_EQ(Head(s.what(), 3), "Text: a\nCode: 1 (0x1)\nStack: ");
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

FrameInfo Frame(std::string module, std::optional<std::uintptr_t> base, std::optional<FrameSymbol> symbol = {},
                std::optional<FrameSource> source = {}) {
    return FrameInfo{std::move(module), base, std::move(symbol), std::move(source)};
}

TEST(FoundationStackFormat, FrameTextItsFallBacksAndTheStackOutermostFirst) {
    EXPECT_EQ(FormatFrame(0x7f12ab, FrameInfo{}), "!0x7f12ab");                    // in no module
    EXPECT_EQ(FormatFrame(0x1234, Frame("libqv", std::nullopt)), "libqv!0x1234");  // no base known
    EXPECT_EQ(FormatFrame(0x1234, Frame("libqv", 0x1000)), "libqv!+234");          // offset in the module
    EXPECT_EQ(FormatFrame(0x1000, Frame("libqv", 0x1000)), "libqv!");
    EXPECT_EQ(FormatFrame(0x1234, Frame("qv", 0x1000, FrameSymbol{"CReport::Generate()", 0x1a})),
              "qv!CReport::Generate()+1a");
    EXPECT_EQ(FormatFrame(0x1234, Frame("qv", 0x1000, FrameSymbol{"main", 0}, FrameSource{"/w/app/main.cpp", 42})),
              "qv!main[main.cpp#42]");
    // Found among the exports only: the address text ends after the symbol.
    const FrameInfo exported = Frame("libc.so", 0x1000, FrameSymbol{"write", 0x10, true}, FrameSource{"write.c", 26});
    EXPECT_EQ(FormatFrame(0x1234, exported), "libc.so!+234<write+10>[write.c#26]");
    const std::string eighty = std::string(74, 'a') + ".cpp";  // + "#7" = 80
    EXPECT_EQ(FormatFrame(0x10, Frame("", {}, {}, FrameSource{"/src/" + eighty, 7})), "!0x10[" + eighty + "#7]");
    const std::string eightyOne = std::string(40, 'a') + std::string(35, 'b') + ".cpp";  // + "#7" = 81
    const std::string shortened = std::string(40, 'a') + ".." + std::string(34, 'b') + ".cpp#7";
    EXPECT_EQ(FormatFrame(0x10, Frame("", {}, {}, FrameSource{"/src/" + eightyOne, 7})), "!0x10[" + shortened + "]");
    const char* names[] = {"", "inner", "middle", "outer"};
    auto lookup = [&](std::uintptr_t address) { return Frame("m", 0, FrameSymbol{names[address], 0}); };
    EXPECT_EQ(FormatStack({1, 2, 3}, lookup), "\n-> m!outer\n-> m!middle\n-> m!inner");
    EXPECT_EQ(FormatStack({}, lookup), "");
    EXPECT_EQ(ModuleNameFromPath("/usr/lib/x86_64-linux-gnu/libc.so.6"), "libc.so");
    EXPECT_EQ(ModuleNameFromPath("/opt/qv.d/qvviewer"), "qvviewer");
}

[[gnu::noinline]] StackFrames Recurse(int depth) {
    StackFrames frames = depth == 0 ? CaptureStack() : Recurse(depth - 1);
    asm volatile("" ::: "memory");  // keeps the call a call, not a jump
    return frames;
}

TEST(FoundationStack, RealFramesNameModuleSymbolAndSourceLine) {
    ASSERT_TRUE(AcquireSymbols());
    const std::shared_ptr<void> release(nullptr, [](void*) { ReleaseSymbols(); });
    EXPECT_EQ(FormatStack({0x10}), "\n-> !0x10");  // in no module
    const int line = __LINE__ + 1;
    const StackFrames frames = CaptureStack();
    ASSERT_FALSE(frames.empty());
    const FrameInfo info = LookupFrame(frames[0]);
    const std::string text = FormatFrame(frames[0], info);
    const std::string body = "FoundationStack_RealFramesNameModuleSymbolAndSourceLine_Test::TestBody()+";
    EXPECT_EQ(text.rfind("foundation_tests!(anonymous namespace)::" + body, 0), 0u) << text;
    // Without debug information (a Release build) the text ends after the displacement, as system libraries' frames.
    EXPECT_EQ(text.substr(std::min(text.find('['), text.size())),
              info.source ? "[exceptions_test.cpp#" + std::to_string(line) + "]" : "")
        << text;
    const std::string stack = FormatStack(frames);
    EXPECT_EQ(stack.substr(stack.rfind("\n-> ") + 4), text);  // the innermost frame comes last

    const StackFrames deep = Recurse(100);
    ASSERT_EQ(deep.size(), kMaxStackFrames);
    for (std::uintptr_t frame : deep) {
        const std::optional<FrameSymbol> symbol = LookupFrame(frame).symbol;
        ASSERT_TRUE(symbol.has_value());
        EXPECT_EQ(symbol->name, "(anonymous namespace)::Recurse(int)");
    }
}

// Each thread's exceptions keep their own stack and text.
TEST(FoundationStack, TwoThreadsConstructExceptionsAtOnceWithOneEngineStart) {
    const int startsBefore = SymbolEngineStartCount();
    constexpr int kThreads = 2;
    constexpr int kRounds = 20;
    std::vector<EGeneric> errors(kThreads);
    for (int i = 0; i < kThreads; ++i) errors[i].SetField("Code", i);
    std::vector<int> complete(kThreads, 0), wrong(kThreads, 0);
    {
        ASSERT_TRUE(AcquireSymbols());  // the engine stays up, so it is started once
        const std::shared_ptr<void> release(nullptr, [](void*) { ReleaseSymbols(); });
        OnThreads(kThreads, [&](int i) {
            for (int round = 0; round < kRounds; ++round) {
                _value_t_data::Ptr stack = ESystemException(2).GetField("Stack");
                complete[i] += stack && stack->GetString().find("WithOneEngineStart") != std::string::npos;
            }
            const std::string expected = "Code: " + std::to_string(i) + " (0x" + std::to_string(i) + ")";
            for (int round = 0; round < 500; ++round) {
                const char* text = errors[i].what();
                errors[(i + 1) % kThreads].what();  // another exception, rendered meanwhile
                wrong[i] += expected != text;
            }
        });
    }
    EXPECT_EQ(complete, std::vector<int>(kThreads, kRounds));
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
    EXPECT_EQ(SymbolEngineStartCount(), startsBefore + 1);
}

}  // namespace
