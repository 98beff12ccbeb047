#include "export/table_export.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <exception>

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>

#include "foundation/exceptions.h"

namespace {

// Large enough that a 100,000-row export makes a few hundred write calls.
constexpr std::size_t kBufferSize = 64 * 1024;

// Keeps "<name>.XXXXXX" within the file-name limit for long target names.
constexpr std::size_t kMaxTempBase = 240;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));

std::string RandomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(6, 'x');
    for (char& c : suffix)
        c = kChars[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kChars - 1))];
    return suffix;
}

int OpenNewFile(const char* path) {
    // Mode 0666 lets the umask decide, as for any newly created file.
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

TemporaryFileOpener& Opener() {
    static TemporaryFileOpener opener = OpenNewFile;
    return opener;
}

std::string TempBase(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t nameLength = std::min(target.size() - nameStart, kMaxTempBase);
    return target.substr(0, nameStart + nameLength);
}

}  // namespace

void SetTemporaryFileOpener(TemporaryFileOpener opener) { Opener() = opener ? std::move(opener) : OpenNewFile; }

CTableExport::CTableExport(const QString& path) : path_(path), uncaughtAtStart_(std::uncaught_exceptions()) {
    codeSet_ = nl_langinfo(CODESET);
    iconv_t cd = iconv_open(codeSet_.c_str(), "WCHAR_T");
    converter_ = cd == kNoConverter ? nullptr : cd;
    utf8_ = codeSet_ == "UTF-8";
    asciiCompatible_ = true;
    for (int c = 1; c < 0x80 && asciiCompatible_; ++c)
        asciiCompatible_ = std::wctob(static_cast<wint_t>(c)) == c;

    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty()) {
        Fail(ENOENT);
        return;
    }
    if (encoded.contains('\0')) {
        Fail(EINVAL);
        return;
    }
    target_ = encoded.toStdString();

    // Through a link to the file it names, so the link survives the rename.
    struct stat st {};
    if (lstat(target_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
    }
    const bool exists = stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        fd_ = open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            Fail(errno);
        return;
    }
    // A file the user may not write is not silently replaced.
    if (exists && access(target_.c_str(), W_OK) != 0) {
        Fail(errno);
        return;
    }

    const std::string base = TempBase(target_);
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && fd_ < 0 && error == EEXIST; ++attempt) {
        std::string candidate = base + "." + RandomSuffix();
        fd_ = Opener()(candidate.c_str());
        if (fd_ >= 0)
            tempPath_ = std::move(candidate);
        else
            error = errno;
    }
    if (fd_ < 0) {
        // A file the user may write, in a folder the user may not.
        if (exists && (error == EACCES || error == EPERM))
            OpenInPlace();
        else
            Fail(error);
        return;
    }
    if (exists && fchmod(fd_, st.st_mode & 0777) != 0) {
        Fail(errno);
        return;
    }
    buffer_.reserve(kBufferSize);
}

void CTableExport::OpenInPlace() {
    // Not truncated yet: until the export is complete the old file stays.
    fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0)
        Fail(errno);
    else
        inPlace_ = true;
}

CTableExport::~CTableExport() {
    // Only a writer that finished its page may replace the target.
    if (!closed_) {
        closed_ = true;
        Discard();
    }
    if (converter_)
        iconv_close(static_cast<iconv_t>(converter_));
}

void CTableExport::Write(std::string_view bytes) {
    if (!IsGood())
        return;
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize && !inPlace_)
        FlushBuffer();
}

bool CTableExport::FlushBuffer() {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

void CTableExport::CloseOutput() {
    if (closed_)
        return;
    closed_ = true;
    // Closed while an exception unwinds the export: the page is not whole.
    if (std::uncaught_exceptions() > uncaughtAtStart_)
        FailWith(QStringLiteral("the export was interrupted"));
    if (!IsGood()) {
        Discard();
        return;
    }
    if (inPlace_ && ftruncate(fd_, 0) != 0) {
        Fail(errno);
        return;
    }
    if (!FlushBuffer())
        return;
    if ((!tempPath_.empty() || inPlace_) && fsync(fd_) != 0) {
        Fail(errno);
        return;
    }
    const int fd = fd_;
    fd_ = -1;
    // A delayed write error (NFS, quota) can surface only here.
    if (close(fd) != 0 && errno != EINTR) {
        Fail(errno);
        return;
    }
    if (!tempPath_.empty()) {
        if (rename(tempPath_.c_str(), target_.c_str()) != 0) {
            Fail(errno);
            return;
        }
        tempPath_.clear();
    }
    succeeded_ = true;
}

void CTableExport::Fail(int error) {
    FailWith(QString::fromLocal8Bit(SystemMessageText(static_cast<std::uint32_t>(error))));
}

void CTableExport::FailWith(const QString& reason) {
    if (error_.isEmpty())
        error_ = QStringLiteral("Cannot write \"%1\": %2").arg(path_, reason);
    buffer_.clear();
    Discard();
}

void CTableExport::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

std::string CTableExport::ToCodeSet(const QString& text) const {
    std::string out;
    if (text.isEmpty())
        return out;
    // Report texts are mostly plain ASCII; spare them the conversion.
    if (utf8_)
        return text.toStdString();
    if (asciiCompatible_) {
        out.reserve(static_cast<std::size_t>(text.size()));
        for (QChar c : text) {
            if (c.unicode() >= 0x80)
                break;
            out.push_back(static_cast<char>(c.unicode()));
        }
        if (out.size() == static_cast<std::size_t>(text.size()))
            return out;
        out.clear();
    }
    std::wstring wide = text.toStdWString();

    if (!converter_) {
        std::mbstate_t state{};
        char bytes[MB_LEN_MAX];
        for (wchar_t c : wide) {
            const std::size_t n = std::wcrtomb(bytes, c, &state);
            if (n == static_cast<std::size_t>(-1)) {
                state = std::mbstate_t{};
                out.push_back('?');
            } else {
                out.append(bytes, n);
            }
        }
        return out;
    }

    iconv_t cd = static_cast<iconv_t>(converter_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(wide.data());
    std::size_t inLeft = wide.size() * sizeof(wchar_t);
    out.resize(wide.size() + 16);
    std::size_t used = 0;
    bool flushing = false;
    for (;;) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        // After the input, one call with no input writes any shift back to
        // the initial state.
        const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                       : iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = static_cast<std::size_t>(dst - out.data());
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing)
                break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (!flushing && inLeft >= sizeof(wchar_t)) {
            // The code set lacks the character: the default character.
            if (used == out.size())
                out.resize(out.size() * 2);
            out[used++] = '?';
            in += sizeof(wchar_t);
            inLeft -= sizeof(wchar_t);
        } else {
            break;
        }
    }
    out.resize(used);
    return out;
}
