#pragma once
// Trace streams: TDebugStream is a thread-safe fan-out of bytes
// to a list of writers, with a set of 32 category bits that callers test
// before they spend work on a trace. TLockedStream makes a chain of
// insertions one unit that no other thread's output can split:
//     TraceStream << "rows: " << count << '\n';
//
// Three streams exist for the life of the process: TraceStream (a
// TDebugWriter), ErrorLogStream (a TFileWriter on DefaultErrorLogPath(), a
// TConsoleWriter, a TDebugWriter) and ConsoleStream (a TConsoleWriter). They
// are built before any static object of a file that includes this header
// and destroyed after all of them, in reverse order (a Schwarz counter, as
// for std::cout).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "foundation/bstr.h"
#include "foundation/mutex.h"
#include "foundation/smart_ptr.h"
#include "foundation/stream_writers.h"

// The category bits. A position of 32 or more raises std::out_of_range with
// the text "invalid bitset<N> position". Reads and changes are atomic.
class TCategorySet {
public:
    static constexpr std::size_t kSize = 32;

    void set(std::size_t position, bool value = true);
    void reset(std::size_t position) { set(position, false); }
    bool test(std::size_t position) const;
    void reset() noexcept { bits_.store(0); }
    std::uint32_t to_ulong() const noexcept { return bits_.load(); }

private:
    std::atomic<std::uint32_t> bits_{0};
};

// Category bit 3: the trace of result sets.
inline constexpr std::size_t kRecordsetTraceCategory = 3;

class TDebugStream {
public:
    explicit TDebugStream(SmartPtr<TStreamWriter> writer);
    TDebugStream(SmartPtr<TStreamWriter> first, SmartPtr<TStreamWriter> second, SmartPtr<TStreamWriter> third);
    ~TDebugStream() = default;
    TDebugStream(const TDebugStream&) = delete;
    TDebugStream& operator=(const TDebugStream&) = delete;

    // Under the lock: appends the writer (a null writer is not added).
    void AddWriter(SmartPtr<TStreamWriter> writer);
    // Under the lock: releases every writer; later writes reach no target.
    void RemoveAllWriters();
    // Read without the lock, so that a caller can skip building a trace that
    // nothing would receive.
    std::size_t WriterCount() const noexcept { return writerCount_.load(); }

    // Nothing (and no lock taken) for a null pointer or a count of 0;
    // otherwise every writer in order gets the same bytes, under the lock.
    void Write(std::uint32_t count, const char* bytes);
    // printf rules into 4096 bytes: at most 4095 characters are written,
    // without the terminating zero.
    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

    TCategorySet& Categories() noexcept { return categories_; }
    const TCategorySet& Categories() const noexcept { return categories_; }

private:
    friend class TLockedStream;

    std::vector<SmartPtr<TStreamWriter>> writers_;  // guarded by lock_
    std::atomic<std::size_t> writerCount_{0};       // mirrors writers_.size()
    TMutex lock_;
    TCategorySet categories_;
};

// Holds the stream's mutex from its making (and each copy's) to its
// destruction. The mutex is re-entrant, so the writes of the insertions take
// it again without blocking.
class TLockedStream {
public:
    explicit TLockedStream(TDebugStream& stream);
    TLockedStream(const TLockedStream& other);
    TLockedStream& operator=(const TLockedStream&) = delete;
    ~TLockedStream();

    TLockedStream& operator<<(std::int32_t value);   // "%d"
    TLockedStream& operator<<(std::uint16_t value);  // "%u"
    TLockedStream& operator<<(const char* text);     // without its zero; null writes "<null>"
    TLockedStream& operator<<(std::string_view bytes);
    TLockedStream& operator<<(char byte);
    TLockedStream& operator<<(const BStr& text);  // nothing if null or empty; else the locale's narrow text

private:
    TDebugStream& stream_;  // not owned
};

// The first insertion on a stream makes the TLockedStream of the statement.
TLockedStream operator<<(TDebugStream& stream, std::int32_t value);
TLockedStream operator<<(TDebugStream& stream, std::uint16_t value);
TLockedStream operator<<(TDebugStream& stream, const char* text);
TLockedStream operator<<(TDebugStream& stream, std::string_view bytes);
TLockedStream operator<<(TDebugStream& stream, char byte);
TLockedStream operator<<(TDebugStream& stream, const BStr& text);

extern TDebugStream& TraceStream;
extern TDebugStream& ErrorLogStream;
extern TDebugStream& ConsoleStream;

namespace foundation_detail {
// Builds the three streams when the first instance is made, destroys them
// when the last one goes.
class StreamsInitializer {
public:
    StreamsInitializer();
    ~StreamsInitializer();
    StreamsInitializer(const StreamsInitializer&) = delete;
    StreamsInitializer& operator=(const StreamsInitializer&) = delete;
};
static const StreamsInitializer streamsInitializer;
}  // namespace foundation_detail
