#pragma once
// The base of the table writers. It owns the output file and its failure
// state: bytes go into a temporary file beside the target, and only a
// finished export that was written whole replaces the target (fsync, then
// rename). Any failure, or an exception that unwinds the export before it
// is closed, removes the temporary file and leaves an existing target as it
// was; Succeeded() and ErrorText() tell the caller.
//
// An existing file that the user may write in a folder where no temporary
// file can be made is rewritten in place instead: the export is kept in
// memory and, once whole, written over the truncated file. A write failure
// at that point leaves the file cut short, and is reported.
//
// A pipe or a character device is written directly, never truncated, since
// renaming over it would replace the node itself; any other target that is
// not a regular file is refused. Links are followed, except where the kernel's
// protected_symlinks rule would not: a link in a sticky folder that everyone
// may write, owned neither by the user nor by the folder's owner, is refused,
// as is any such entry there that another user owns. A new file is made for
// the user alone (0600, narrowed by the umask); a replaced one keeps its mode.
// After the rename the folder is synced, so the export survives a crash.
// Paths are not limited in length beyond what the system allows.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <QString>

struct stat;

// Creates the temporary file beside the target: a new file, exclusive, for
// writing; a descriptor, or -1 with errno set. Tests replace it to fail as
// in a folder they cannot make unwritable (root writes through permissions);
// an empty function restores the default.
using TemporaryFileOpener = std::function<int(const char* path)>;
void SetTemporaryFileOpener(TemporaryFileOpener opener);

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
    void OpenInPlace(const struct stat& seen);
    void OpenStream(const struct stat& seen);
    // fd_ is still the node that was looked at, and of the kind expected.
    bool IsStillThe(const struct stat& seen, bool regular);
    void Fail(int error);
    void FailWith(const QString& reason);
    bool FlushBuffer();
    void Discard();

    QString path_;          // as the caller named it, for messages
    std::string target_;    // where the export ends up (links resolved)
    std::string tempPath_;  // empty when the target is written directly
    int fd_ = -1;
    bool inPlace_ = false;  // fd_ is the target, rewritten only on Close
    int uncaughtAtStart_;   // exceptions in flight when the writer was made
    std::string buffer_;
    QString error_;
    bool closed_ = false;
    bool succeeded_ = false;
    std::string codeSet_;  // the locale's code set at construction
    bool utf8_ = false;
    bool asciiCompatible_ = false;
    void* converter_ = nullptr;  // iconv_t to codeSet_, null if iconv lacks it
};
