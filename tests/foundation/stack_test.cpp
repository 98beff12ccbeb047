// Stack texts and the symbol engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>

#include "foundation/exceptions.h"
#include "foundation/stack.h"

namespace {

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
    ASSERT_EQ(shortened.size(), 82u);
    EXPECT_EQ(FormatFrame(0x10, Frame("", {}, {}, FrameSource{"/src/" + eightyOne, 7})), "!0x10[" + shortened + "]");
    const char* names[] = {"", "inner", "middle", "outer"};
    auto lookup = [&](std::uintptr_t address) { return Frame("m", 0, FrameSymbol{names[address], 0}); };
    EXPECT_EQ(FormatStack({1, 2, 3}, lookup), "\n-> m!outer\n-> m!middle\n-> m!inner");
    EXPECT_EQ(FormatStack({}, lookup), "");
    EXPECT_EQ(ModuleNameFromPath("/usr/lib/x86_64-linux-gnu/libc.so.6"), "libc.so");
    EXPECT_EQ(ModuleNameFromPath("/opt/qv.d/qvviewer"), "qvviewer");
}

// Holds the engine for a scope.
struct SymbolUser {
    SymbolUser() : ok(AcquireSymbols()) {}
    ~SymbolUser() {
        if (ok) ReleaseSymbols();
    }
    const bool ok;
};

[[gnu::noinline]] StackFrames Recurse(int depth) {
    StackFrames frames = depth == 0 ? CaptureStack() : Recurse(depth - 1);
    asm volatile("" ::: "memory");  // keeps the call a call, not a jump
    return frames;
}

TEST(FoundationStack, RealFramesNameModuleSymbolAndSourceLine) {
    SymbolUser symbols;
    ASSERT_TRUE(symbols.ok);
    EXPECT_EQ(FormatStack({0x10}), "\n-> !0x10");  // in no module
    const int line = __LINE__ + 1;
    const StackFrames frames = CaptureStack();
    ASSERT_FALSE(frames.empty());
    const FrameInfo info = LookupFrame(frames[0]);
    const std::string text = FormatFrame(frames[0], info);
    const std::string expected =
        "foundation_tests!(anonymous namespace)::"
        "FoundationStack_RealFramesNameModuleSymbolAndSourceLine_Test::"
        "TestBody()+";
    EXPECT_EQ(text.substr(0, std::min(text.size(), expected.size())), expected);
    // Without debug information (a Release build) the text ends after the
    // displacement, by the same fall-back that frames of system libraries take.
    const std::size_t sourceStart = text.find('[');
    if (info.source) {
        ASSERT_NE(sourceStart, std::string::npos) << text;
        EXPECT_EQ(text.substr(sourceStart), "[stack_test.cpp#" + std::to_string(line) + "]");
    } else {
        EXPECT_EQ(sourceStart, std::string::npos) << text;
    }
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

TEST(FoundationStack, TwoThreadsConstructExceptionsAtOnceWithOneEngineStart) {
    const int startsBefore = SymbolEngineStartCount();
    constexpr int kThreads = 2;
    constexpr int kRounds = 20;
    std::vector<int> complete(kThreads, 0);
    {
        SymbolUser holder;  // the engine stays up, so it is started once
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                for (int round = 0; round < kRounds; ++round) {
                    _value_t_data::Ptr stack = ESystemException(2).GetField("Stack");
                    complete[i] += stack && stack->GetString().find("WithOneEngineStart") != std::string::npos;
                }
            });
        }
        for (std::thread& t : threads) t.join();
    }
    EXPECT_EQ(complete, std::vector<int>(kThreads, kRounds));
    EXPECT_EQ(SymbolEngineStartCount(), startsBefore + 1);
}

}  // namespace
