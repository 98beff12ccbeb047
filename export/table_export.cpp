#include "export/table_export.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

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
    for (char& c : suffix) c = kChars[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kChars - 1))];
    return suffix;
}

int OpenNewFile(const char* path) {
    // Reports hold personal data: the owner's alone; the umask may only narrow it.
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// In a sticky folder that everyone may write, an entry that belongs neither
// to the user nor to the folder's owner was put there by someone else: the
// kernel's protected_symlinks (and protected_fifos, protected_regular) rule.
bool PlantedByAnother(const struct stat& folder, const struct stat& entry) {
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return shared && entry.st_uid != geteuid() && entry.st_uid != folder.st_uid;
}

constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit

// The path with every link resolved, as realpath gives it, but a link
// planted by another user is refused instead of followed; a last element
// that does not exist yet is kept. 0, or an errno; EPERM for a planted link.
int ResolveTarget(const std::string& path, std::string& resolved) {
    std::vector<std::string> pending;  // elements still to walk, last first
    const auto push = [&pending](const std::string& text) {
        std::size_t end = text.size();
        while (end > 0) {
            const std::size_t slash = text.rfind('/', end - 1);
            const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
            if (end > start) pending.push_back(text.substr(start, end - start));
            if (slash == std::string::npos) break;
            end = slash;
        }
    };
    resolved.clear();
    if (path.front() != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (!cwd) return errno;
        resolved = cwd;
        std::free(cwd);
        if (resolved == "/") resolved.clear();
    }
    push(path);
    int links = 0;
    while (!pending.empty()) {
        const std::string element = std::move(pending.back());
        pending.pop_back();
        if (element == ".") continue;
        if (element == "..") {
            resolved.resize(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        const std::string next = resolved + "/" + element;
        struct stat entry {};
        if (lstat(next.c_str(), &entry) != 0) {
            const bool last =
                std::all_of(pending.begin(), pending.end(), [](const std::string& e) { return e == "."; });
            if (errno != ENOENT || !last) return errno;
            resolved = next;
            break;
        }
        if (!S_ISLNK(entry.st_mode)) {
            resolved = next;
            continue;
        }
        struct stat folder {};
        const std::string folderPath = resolved.empty() ? "/" : resolved;
        if (++links > kMaxLinks) return ELOOP;
        if (stat(folderPath.c_str(), &folder) != 0) return errno;
        if (PlantedByAnother(folder, entry)) return EPERM;
        std::string text(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : PATH_MAX) + 1, '\0');
        const ssize_t n = readlink(next.c_str(), text.data(), text.size());
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) >= text.size()) return ENAMETOOLONG;  // changed while read
        text.resize(static_cast<std::size_t>(n));
        if (text.empty()) return ENOENT;
        if (text.front() == '/') resolved.clear();
        push(text);
    }
    if (resolved.empty()) resolved = "/";
    return 0;
}

// Makes the rename in the folder survive a crash. A folder that cannot be
// opened for reading or synced on its file system is left as it is.
int SyncFolder(const std::string& path) {
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    int error = 0;
    if (fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) error = errno;
    close(fd);
    return error;
}

}  // namespace

void SetTemporaryFileOpener(TemporaryFileOpener opener) { Opener() = opener ? std::move(opener) : OpenNewFile; }

CTableExport::CTableExport(const QString& path) : path_(path), uncaughtAtStart_(std::uncaught_exceptions()) {
    codeSet_ = nl_langinfo(CODESET);
    iconv_t cd = iconv_open(codeSet_.c_str(), "WCHAR_T");
    converter_ = cd == kNoConverter ? nullptr : cd;
    utf8_ = codeSet_ == "UTF-8";
    asciiCompatible_ = true;
    for (int c = 1; c < 0x80 && asciiCompatible_; ++c) asciiCompatible_ = std::wctob(static_cast<wint_t>(c)) == c;

    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.isEmpty()) {
        Fail(ENOENT);
        return;
    }
    if (encoded.contains('\0')) {
        Fail(EINVAL);
        return;
    }
    if (encoded.endsWith('/')) {
        Fail(EISDIR);
        return;
    }
    // Through a link to the file it names, so the link survives the rename.
    if (const int error = ResolveTarget(encoded.toStdString(), target_)) {
        if (error == EPERM)
            FailWith(QStringLiteral("it is a link that another user made in a shared folder"));
        else
            Fail(error);
        return;
    }
    struct stat st {};
    const bool exists = lstat(target_.c_str(), &st) == 0;
    if (exists) {
        struct stat folder {};
        if (stat(FolderOf(target_).c_str(), &folder) == 0 && PlantedByAnother(folder, st)) {
            FailWith(QStringLiteral("it belongs to another user in a shared folder"));
            return;
        }
    }
    if (exists && !S_ISREG(st.st_mode)) {
        OpenStream(st);
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
            OpenInPlace(st);
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

void CTableExport::OpenInPlace(const struct stat& seen) {
    // Not truncated yet: until the export is complete the old file stays.
    fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd_ < 0)
        Fail(errno);
    else if (IsStillThe(seen, true))
        inPlace_ = true;
}

void CTableExport::OpenStream(const struct stat& seen) {
    // A pipe or a terminal takes the bytes as they come; anything else that
    // is no regular file (a disk, a folder) would be overwritten or replaced.
    if (!S_ISFIFO(seen.st_mode) && !S_ISCHR(seen.st_mode)) {
        FailWith(QStringLiteral("it is not a regular file"));
        return;
    }
    // Never truncated: O_TRUNC would empty a regular file swapped in since.
    fd_ = open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd_ < 0)
        Fail(errno);
    else
        IsStillThe(seen, false);
}

bool CTableExport::IsStillThe(const struct stat& seen, bool regular) {
    struct stat now {};
    if (fstat(fd_, &now) != 0) {
        Fail(errno);
        return false;
    }
    if (now.st_dev != seen.st_dev || now.st_ino != seen.st_ino || S_ISREG(now.st_mode) != regular) {
        FailWith(QStringLiteral("the file was replaced while it was opened"));
        return false;
    }
    return true;
}

CTableExport::~CTableExport() {
    // Only a writer that finished its page may replace the target.
    if (!closed_) {
        closed_ = true;
        Discard();
    }
    if (converter_) iconv_close(static_cast<iconv_t>(converter_));
}

void CTableExport::Write(std::string_view bytes) {
    if (!IsGood()) return;
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize && !inPlace_) FlushBuffer();
}

bool CTableExport::FlushBuffer() {
    const char* p = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
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
    if (closed_) return;
    closed_ = true;
    // Closed while an exception unwinds the export: the page is not whole.
    if (std::uncaught_exceptions() > uncaughtAtStart_) FailWith(QStringLiteral("the export was interrupted"));
    if (!IsGood()) {
        Discard();
        return;
    }
    if (inPlace_ && ftruncate(fd_, 0) != 0) {
        Fail(errno);
        return;
    }
    if (!FlushBuffer()) return;
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
        if (const int error = SyncFolder(target_)) {
            Fail(error);
            return;
        }
    }
    succeeded_ = true;
}

void CTableExport::Fail(int error) {
    FailWith(QString::fromLocal8Bit(SystemMessageText(static_cast<std::uint32_t>(error))));
}

void CTableExport::FailWith(const QString& reason) {
    if (error_.isEmpty()) error_ = QStringLiteral("Cannot write \"%1\": %2").arg(path_, reason);
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
    if (text.isEmpty()) return out;
    // Report texts are mostly plain ASCII; spare them the conversion.
    if (utf8_) return text.toStdString();
    if (asciiCompatible_) {
        out.reserve(static_cast<std::size_t>(text.size()));
        for (QChar c : text) {
            if (c.unicode() >= 0x80) break;
            out.push_back(static_cast<char>(c.unicode()));
        }
        if (out.size() == static_cast<std::size_t>(text.size())) return out;
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
        const std::size_t r =
            flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft) : iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = static_cast<std::size_t>(dst - out.data());
        if (r != static_cast<std::size_t>(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (!flushing && inLeft >= sizeof(wchar_t)) {
            // The code set lacks the character: the default character.
            if (used == out.size()) out.resize(out.size() * 2);
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
