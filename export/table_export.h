#pragma once
// The base of the table writers. It owns the output file and its failure
// state: bytes go into a temporary file beside the target, and only a
// finished export that was written whole replaces the target (fsync, then
// rename). Any failure removes the temporary file and leaves an existing
// target as it was; Succeeded() and ErrorText() tell the caller.
//
// A target that exists but is not a regular file (a device, a pipe) is
// written directly, since renaming over it would replace the node itself.
// Paths are not limited in length beyond what the system allows.
#include <cstdint>
#include <string>
#include <string_view>

#include <QString>

class CTableExport {
public:
    virtual ~CTableExport();
    CTableExport(const CTableExport&) = delete;
    CTableExport& operator=(const CTableExport&) = delete;

    virtual void BeginRow() = 0;
    virtual void EndRow() = 0;
    virtual void WriteCell(const QString& text, unsigned style, unsigned fontSize) = 0;
    // Finishes the file; 1 in every case, and a second call writes nothing.
    virtual std::uint32_t Close() = 0;

    // Meaningful after Close: the target now holds the whole export.
    bool Succeeded() const { return succeeded_; }
    // Empty while nothing failed; else e.g. `Cannot write "/x/r.htm": No space left on device`.
    QString ErrorText() const { return error_; }

protected:
    // Opens the temporary file (or the non-regular target). A failure is
    // remembered, and every write after it does nothing.
    explicit CTableExport(const QString& path);

    // The output is open and nothing has failed.
    bool IsGood() const { return fd_ >= 0 && error_.isEmpty(); }
    bool IsClosed() const { return closed_; }

    void Write(std::string_view bytes);
    void WriteLineEnd() { Write("\r\n"); }
    // Text in the code set of the user's locale, read when the writer was
    // made; characters the code set lacks become '?'.
    std::string ToCodeSet(const QString& text) const;

    // Flushes and commits the file when all went well, else discards it.
    // Sets the closed flag; later calls do nothing.
    void CloseOutput();

private:
    void Fail(int error);
    bool FlushBuffer();
    void Discard();

    QString path_;            // as the caller named it, for messages
    std::string target_;      // where the export ends up (links resolved)
    std::string tempPath_;    // empty when the target is written directly
    int fd_ = -1;
    std::string buffer_;
    QString error_;
    bool closed_ = false;
    bool succeeded_ = false;
    std::string codeSet_;     // the locale's code set at construction
    bool utf8_ = false;
    bool asciiCompatible_ = false;
    void* converter_ = nullptr;  // iconv_t to codeSet_, null if iconv lacks it
};
