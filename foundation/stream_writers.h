#pragma once
// Writers of trace streams: each sends bytes to one target and
// reports no failure; bytes that cannot be delivered are lost.
#include <cstdint>
#include <string>

#include "foundation/smart_ptr.h"

class TStreamWriter : public virtual SmartPtrObj {
public:
    virtual void Write(const char* bytes, std::uint32_t count) noexcept = 0;
};

// Appends to a file that is opened anew for every write (no descriptor is
// held between writes). Constructing the writer touches nothing on disk; the
// file's directory is created at the first write that needs it.
class TFileWriter : public TStreamWriter {
public:
    explicit TFileWriter(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const noexcept { return path_; }
    void Write(const char* bytes, std::uint32_t count) noexcept override;

private:
    std::string path_;
};

// The console: standard output. The original converted the text to the
// console's OEM code page; a Linux terminal reads the locale's own narrow
// encoding, which is what the callers hand over, so no conversion is needed.
class TConsoleWriter : public TStreamWriter {
public:
    TConsoleWriter() noexcept;
    void Write(const char* bytes, std::uint32_t count) noexcept override;

private:
    int fd_;  // fetched once at construction, as the original's handle
};

// The debugger's output channel: standard error. It writes the given count
// of bytes; the original ignored the count and relied on a terminating zero.
class TDebugWriter : public TStreamWriter {
public:
    void Write(const char* bytes, std::uint32_t count) noexcept override;
};

// The error log of ErrorLogStream: "$XDG_STATE_HOME/qvviewer/error.log", or
// "~/.local/state/qvviewer/error.log" when XDG_STATE_HOME is unset or not an
// absolute path; empty when there is no home directory either.
std::string DefaultErrorLogPath();
