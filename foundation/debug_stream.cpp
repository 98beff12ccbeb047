#include "foundation/debug_stream.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "foundation/text_conv.h"

// ---- TCategorySet ---------------------------------------------------------------

namespace {
void CheckPosition(std::size_t position) {
    if (position >= TCategorySet::kSize) {
        throw std::out_of_range("invalid bitset<N> position");
    }
}
}  // namespace

void TCategorySet::set(std::size_t position, bool value) {
    CheckPosition(position);
    const std::uint32_t bit = std::uint32_t{1} << position;
    if (value) {
        bits_.fetch_or(bit);
    } else {
        bits_.fetch_and(~bit);
    }
}

bool TCategorySet::test(std::size_t position) const {
    CheckPosition(position);
    return (bits_.load() >> position) & 1U;
}

// ---- TDebugStream ---------------------------------------------------------------

TDebugStream::TDebugStream(SmartPtr<TStreamWriter> writer) { AddWriter(std::move(writer)); }

TDebugStream::TDebugStream(SmartPtr<TStreamWriter> first, SmartPtr<TStreamWriter> second,
                           SmartPtr<TStreamWriter> third) {
    AddWriter(std::move(first));
    AddWriter(std::move(second));
    AddWriter(std::move(third));
}

void TDebugStream::AddWriter(SmartPtr<TStreamWriter> writer) {
    if (!writer) {
        return;
    }
    TLockGuard guard(lock_);
    writers_.push_back(std::move(writer));
    writerCount_.store(writers_.size());
}

void TDebugStream::RemoveAllWriters() {
    TLockGuard guard(lock_);
    writers_.clear();
    writerCount_.store(0);
}

void TDebugStream::Write(std::uint32_t count, const char* bytes) {
    if (!bytes || count == 0) {
        return;
    }
    TLockGuard guard(lock_);
    for (const SmartPtr<TStreamWriter>& writer : writers_) {
        writer->Write(bytes, count);
    }
}

void TDebugStream::Print(const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n <= 0) {
        return;
    }
    const std::size_t length = std::min(static_cast<std::size_t>(n), sizeof buffer - 1);
    Write(static_cast<std::uint32_t>(length), buffer);
}

// ---- TLockedStream -----------------------------------------------------------------

TLockedStream::TLockedStream(TDebugStream& stream) : stream_(stream) { stream_.lock_.Lock(); }

TLockedStream::TLockedStream(const TLockedStream& other) : stream_(other.stream_) { stream_.lock_.Lock(); }

TLockedStream::~TLockedStream() { stream_.lock_.Unlock(); }

TLockedStream& TLockedStream::operator<<(std::int32_t value) {
    stream_.Print("%d", value);
    return *this;
}

TLockedStream& TLockedStream::operator<<(std::uint16_t value) {
    stream_.Print("%u", static_cast<unsigned>(value));
    return *this;
}

TLockedStream& TLockedStream::operator<<(const char* text) { return *this << std::string_view(text ? text : "<null>"); }

TLockedStream& TLockedStream::operator<<(std::string_view bytes) {
    stream_.Write(static_cast<std::uint32_t>(bytes.size()), bytes.data());
    return *this;
}

TLockedStream& TLockedStream::operator<<(char byte) {
    stream_.Write(1, &byte);
    return *this;
}

TLockedStream& TLockedStream::operator<<(const BStr& text) {
    if (!text.IsEmpty()) {
        *this << std::string_view(BStrToAnsi(text));
    }
    return *this;
}

namespace {
template <class T>
TLockedStream Insert(TDebugStream& stream, const T& value) {
    TLockedStream locked(stream);
    locked << value;
    return locked;
}
}  // namespace

TLockedStream operator<<(TDebugStream& stream, std::int32_t value) { return Insert(stream, value); }
TLockedStream operator<<(TDebugStream& stream, std::uint16_t value) { return Insert(stream, value); }
TLockedStream operator<<(TDebugStream& stream, const char* text) { return Insert(stream, text); }
TLockedStream operator<<(TDebugStream& stream, std::string_view bytes) { return Insert(stream, bytes); }
TLockedStream operator<<(TDebugStream& stream, char byte) { return Insert(stream, byte); }
TLockedStream operator<<(TDebugStream& stream, const BStr& text) { return Insert(stream, text); }

// ---- the process's streams -----------------------------------------------------------

namespace {

// Storage whose member is built and destroyed by hand, so that the streams'
// lifetime follows the Schwarz counter rather than this file's own
// initialisation order. The references below are bound at compile time.
union StreamSlot {
    constexpr StreamSlot() : unused() {}
    ~StreamSlot() {}
    char unused;
    TDebugStream stream;
};

constinit StreamSlot traceSlot;
constinit StreamSlot errorLogSlot;
constinit StreamSlot consoleSlot;
int initializerCount = 0;  // static initialisation runs on one thread

}  // namespace

constinit TDebugStream& TraceStream = traceSlot.stream;
constinit TDebugStream& ErrorLogStream = errorLogSlot.stream;
constinit TDebugStream& ConsoleStream = consoleSlot.stream;

foundation_detail::StreamsInitializer::StreamsInitializer() {
    if (initializerCount++ == 0) {
        new (&traceSlot.stream) TDebugStream(MakeSmart<TDebugWriter>());
        new (&errorLogSlot.stream) TDebugStream(MakeSmart<TFileWriter>(DefaultErrorLogPath()),
                                                MakeSmart<TConsoleWriter>(), MakeSmart<TDebugWriter>());
        new (&consoleSlot.stream) TDebugStream(MakeSmart<TConsoleWriter>());
    }
}

foundation_detail::StreamsInitializer::~StreamsInitializer() {
    if (--initializerCount == 0) {
        consoleSlot.stream.~TDebugStream();
        errorLogSlot.stream.~TDebugStream();
        traceSlot.stream.~TDebugStream();
    }
}
