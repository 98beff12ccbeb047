#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <sstream>
#include <thread>

#include "foundation/debug_stream.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_util.h"

namespace {

using namespace std::chrono_literals;
using test_util::ScopedEnv;
using namespace testing::internal;

// Keeps what it is given; with a log, also which writer got what, in order.
// The stream's mutex serialises the calls.
struct Recorder : TStreamWriter {
    explicit Recorder(std::vector<std::string>* log = nullptr, std::string name = "") : log(log), name(name) {}
    void Write(const char* bytes, std::uint32_t count) noexcept override {
        text.append(bytes, count);
        ++writes;
        if (log) log->push_back(name + std::string(bytes, count));
    }
    std::vector<std::string>* log;
    std::string name, text;
    int writes = 0;
};

struct Recorded {
    SmartPtr<Recorder> writer = MakeSmart<Recorder>();
    TDebugStream stream{writer};
};

TEST(FoundationDebugStream, WritersGetEveryWriteInOrderInsertionsPrintAndEmptyWritesTakeNoLock) {
    std::vector<std::string> log;
    auto recorder = [&](const char* name) { return MakeSmart<Recorder>(&log, name); };
    TDebugStream stream(recorder("1:"), recorder("2:"), recorder("3:"));
    stream.AddWriter(recorder("4:"));
    stream.Write(1, "a");
    stream.Write(1, "b");
    EXPECT_EQ(log, (std::vector<std::string>{"1:a", "2:a", "3:a", "4:a", "1:b", "2:b", "3:b", "4:b"}));

    Recorded r;
    r.stream << std::int32_t{-42} << ' ' << std::uint16_t{65535} << ' ' << static_cast<const char*>(nullptr) << ' '
             << std::string_view("a\0b", 3) << BStr() << BStr(u"") << BStr(u"com");
    EXPECT_EQ(r.writer->text, std::string("-42 65535 <null> a\0bcom", 23));
    const int writes = r.writer->writes;
    r.stream.Print("%s", "");
    {
        TLockedStream held(r.stream);  // an empty write that took the lock would wait forever
        auto done = std::async(std::launch::async, [&] {
            r.stream.Write(0, "x");
            r.stream.Write(1, nullptr);
        });
        EXPECT_EQ(done.wait_for(30s), std::future_status::ready);
    }
    EXPECT_EQ(r.writer->writes, writes);  // empty writes, null and empty COM strings reach nothing
    r.stream.Print("%s", std::string(5000, 'a').c_str());
    EXPECT_EQ(r.writer->text.size(), 23u + 4095u);

    r.stream.RemoveAllWriters();
    r.stream << "formatted, not output " << 5;
    EXPECT_EQ(r.writer->RefCount(), 1);  // the stream let go of it
    EXPECT_EQ(r.writer->writes, writes + 1);
}

TEST(FoundationDebugStream, ChainsFromTwoThreadsNeverInterleave) {
    Recorded r;
    auto statements = [&](char id) {
        for (int i = 0; i < 300; ++i) r.stream << id << ' ' << "statement " << i << '\n';
    };
    std::thread a(statements, 'A'), b(statements, 'B');
    a.join();
    b.join();
    std::istringstream lines(r.writer->text);
    int counts[2] = {0, 0};
    for (std::string line; std::getline(lines, line);) {
        const int id = line[0] - 'A';
        ASSERT_EQ(line, std::string(1, line[0]) + " statement " + std::to_string(counts[id & 1]++));
    }
    EXPECT_EQ(counts[0] + counts[1], 600);

    std::optional<TLockedStream> held(std::in_place, r.stream);
    std::optional<TLockedStream> copy(*held);  // takes the mutex again
    auto other = std::async(std::launch::async, [&] { r.stream << "other"; });
    EXPECT_EQ(other.wait_for(50ms), std::future_status::timeout);
    held.reset();
    copy.reset();  // each holder released once: the mutex is free
    EXPECT_EQ(other.wait_for(30s), std::future_status::ready);
}

TEST(FoundationStreamWriters, FileWriterTouchesNothingUntilItWritesAndConsoleWithoutReaderRaisesNoSigpipe) {
    TempDir dir;
    {
        ScopedEnv home("HOME", "/home/op");
        ScopedEnv relative("XDG_STATE_HOME", "relative");  // not absolute: ignored
        EXPECT_EQ(DefaultErrorLogPath(), "/home/op/.local/state/qvviewer/error.log");
    }
    ScopedEnv state("XDG_STATE_HOME", dir.Path().c_str());
    TFileWriter writer(DefaultErrorLogPath());
    EXPECT_EQ(writer.Path(), dir.File("qvviewer/error.log"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    writer.Write("line 1\n", 7);
    writer.Write("line 2\nnot this", 7);
    EXPECT_EQ(ReadFile(writer.Path()), "line 1\nline 2\n");
    TFileWriter(dir.Path()).Write("a directory is no file", 5);  // dropped silently

    // A console without a reader loses the bytes, without SIGPIPE.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    TConsoleWriter().Write("lost", 4);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

// The process's streams exist during this file's static initialisation...
const std::size_t traceWritersAtStaticInit = TraceStream.WriterCount();
// ...and still after main (ASan would report a stream destroyed too early).
struct UsesTraceStreamAtExit {
    ~UsesTraceStreamAtExit() {
        TraceStream.RemoveAllWriters();
        TraceStream << "at exit";
    }
} usesTraceStreamAtExit;

TEST(FoundationProcessStreams, BuiltBeforeMainWithTheirWriters) {
    EXPECT_EQ(traceWritersAtStaticInit, 1u);
    EXPECT_EQ(ErrorLogStream.WriterCount(), 3u);
    EXPECT_EQ(ConsoleStream.WriterCount(), 1u);
    CaptureStderr();
    TraceStream << "trace " << 1;
    EXPECT_EQ(GetCapturedStderr(), "trace 1");
    CaptureStdout();
    ConsoleStream << "console";
    EXPECT_EQ(GetCapturedStdout(), "console");
}

}  // namespace
