#include "qvrecorder/spool.h"

#include "records/log.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qv::recorder {

namespace {

constexpr int kSchemaVersion = 1;
constexpr std::size_t kRecorderIdBytes = 16;
constexpr std::int64_t kSenderMemoryMs = 7LL * 86'400'000;
// An icon's state: the service has it; this spool has not sent it yet; the
// service said it lacks it.
enum IconState : std::int64_t { kIconHad = 0, kIconUnsent = 1, kIconAsked = 2 };
// What a record's numbers and row cost besides its texts.
constexpr std::uint64_t kRecordOverhead = 64;
// The record's columns, in ActivityRecord's order, as both queues hold them.
constexpr const char* kRecordColumns =
    "user, computer, process, description, window_title, start_ms, duration_ms, keyboard_events, mouse_events";
constexpr const char* kRecordBytes =
    "length(user) + length(computer) + length(process) + length(description) + length(window_title) + 64";

constexpr const char* kSchema = R"(
CREATE TABLE recorder (
    id BLOB NOT NULL,
    next_sequence INTEGER NOT NULL,
    last_error TEXT NOT NULL DEFAULT '',
    last_error_ms INTEGER NOT NULL DEFAULT 0);
CREATE TABLE waiting (
    sequence INTEGER PRIMARY KEY, spooled_ms INTEGER NOT NULL,
    user BLOB NOT NULL, computer BLOB NOT NULL, process BLOB NOT NULL, description BLOB NOT NULL,
    window_title BLOB NOT NULL, start_ms INTEGER NOT NULL, duration_ms INTEGER NOT NULL,
    keyboard_events INTEGER NOT NULL, mouse_events INTEGER NOT NULL);
CREATE TABLE set_aside_batches (
    batch INTEGER PRIMARY KEY, first_sequence INTEGER NOT NULL, records INTEGER NOT NULL,
    reason TEXT NOT NULL, set_aside_ms INTEGER NOT NULL);
CREATE TABLE set_aside (
    sequence INTEGER PRIMARY KEY, batch INTEGER NOT NULL, spooled_ms INTEGER NOT NULL,
    user BLOB NOT NULL, computer BLOB NOT NULL, process BLOB NOT NULL, description BLOB NOT NULL,
    window_title BLOB NOT NULL, start_ms INTEGER NOT NULL, duration_ms INTEGER NOT NULL,
    keyboard_events INTEGER NOT NULL, mouse_events INTEGER NOT NULL);
)";

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint64_t TextBytes(const ActivityRecord& r) {
    return r.user.size() + r.computer.size() + r.process.size() + r.description.size() + r.windowTitle.size() +
           kRecordOverhead;
}

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) Fail();
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::int64_t value) {
        if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) Fail();
        return *this;
    }
    Statement& Bind(int index, const std::string& value) {
        if (sqlite3_bind_blob64(statement_, index, value.data(), value.size(), SQLITE_STATIC) != SQLITE_OK) Fail();
        return *this;
    }
    Statement& BindText(int index, const std::string& value) {
        if (sqlite3_bind_text64(statement_, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8) != SQLITE_OK)
            Fail();
        return *this;
    }
    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) Fail();
        return false;
    }
    void Reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Bytes(int column) const {
        const void* data = sqlite3_column_blob(statement_, column);
        return data ? std::string(static_cast<const char*>(data),
                                  static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                    : std::string();
    }

private:
    [[noreturn]] void Fail() { throw std::runtime_error(std::string("spool: ") + sqlite3_errmsg(db_)); }

    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

// Rolls back unless committed, so that a failed change leaves nothing behind.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { Run("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void Commit() {
        Run("COMMIT");
        open_ = false;
    }

private:
    void Run(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("spool: ") + sqlite3_errmsg(db_));
        }
    }
    sqlite3* db_;
    bool open_ = true;
};

std::string RandomId() {
    std::string id(kRecorderIdBytes, '\0');
    std::size_t done = 0;
    while (done < id.size()) {
        const ssize_t n = ::getrandom(id.data() + done, id.size() - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(std::string("cannot make the recorder id: ") + std::strerror(errno));
        done += static_cast<std::size_t>(n);
    }
    return id;
}

}  // namespace

Spool::Spool(const std::string& folder, std::uint64_t maxBytes) : path_(folder + "/" + kFileName), maxBytes_(maxBytes) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw std::runtime_error("cannot make the spool folder " + folder + ": " + std::strerror(errno));
    }
    lockFd_ = ::open((folder + "/spool.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) throw std::runtime_error("cannot open the spool folder " + folder + ": " + std::strerror(errno));
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(lockFd_);
        throw std::runtime_error(error == EWOULDBLOCK
                                     ? "the spool " + folder + " is in use by another qvrecorder daemon"
                                     : "cannot lock the spool " + folder + ": " + std::strerror(error));
    }
    try {
        if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            throw std::runtime_error("cannot open the spool " + path_ + ": " +
                                     (db_ ? sqlite3_errmsg(db_) : "out of memory"));
        }
        // An operator's sqlite3 looking at the set-aside batches holds locks for a moment only.
        sqlite3_busy_timeout(db_, 10'000);
        Execute("PRAGMA journal_mode=WAL");
        Execute("PRAGMA synchronous=FULL");
        // Batches are read once, oldest first: a large page cache would hold nothing worth keeping.
        Execute("PRAGMA cache_size=-512");
        Statement version(db_, "PRAGMA user_version");
        version.Step();
        const std::int64_t found = version.Int(0);
        if (found > kSchemaVersion) {
            throw std::runtime_error("the spool " + path_ + " was made by a newer qvrecorder (version " +
                                     std::to_string(found) + ")");
        }
        if (found == 0) {
            Transaction transaction(db_);
            Execute(kSchema);
            Statement insert(db_, "INSERT INTO recorder (id, next_sequence) VALUES (?, 1)");
            insert.Bind(1, RandomId()).Step();
            Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
            transaction.Commit();
        }
        // Senders resend within seconds; a week keeps the table small.
        Execute(
            "CREATE TABLE IF NOT EXISTS senders (sender_id BLOB PRIMARY KEY, last_message INTEGER NOT NULL, "
            "seen_ms INTEGER NOT NULL)");
        Statement(db_, "DELETE FROM senders WHERE seen_ms < ?").Bind(1, NowMs() - kSenderMemoryMs).Step();
        Execute(
            "CREATE TABLE IF NOT EXISTS icons (process BLOB PRIMARY KEY, icon BLOB NOT NULL, spooled_ms INTEGER NOT "
            "NULL, state INTEGER NOT NULL)");
        Statement icons(db_, "SELECT coalesce(sum(length(icon)), 0) FROM icons");
        icons.Step();
        iconBytes_ = static_cast<std::uint64_t>(icons.Int(0));
        Statement recorder(db_, "SELECT id, next_sequence FROM recorder");
        if (!recorder.Step()) throw std::runtime_error("the spool " + path_ + " has lost its recorder id");
        recorderId_ = recorder.Bytes(0);
        nextSequence_ = static_cast<std::uint64_t>(recorder.Int(1));
        if (recorderId_.size() != kRecorderIdBytes) throw std::runtime_error("the spool " + path_ + " has a bad id");
        bytes_ = MeasureBytes();
    } catch (...) {
        sqlite3_close(db_);
        ::close(lockFd_);
        throw;
    }
}

Spool::~Spool() {
    sqlite3_close(db_);
    ::close(lockFd_);
}

void Spool::Execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error("spool " + path_ + ": " + sqlite3_errmsg(db_));
    }
}

std::uint64_t Spool::MeasureBytes() {
    Statement sum(db_, std::string("SELECT (SELECT coalesce(sum(") + kRecordBytes + "), 0) FROM waiting) + " +
                           "(SELECT coalesce(sum(" + kRecordBytes + "), 0) FROM set_aside)");
    sum.Step();
    return static_cast<std::uint64_t>(sum.Int(0));
}

std::uint64_t Spool::CheckRoom(const std::vector<ActivityRecord>& records) {
    std::uint64_t adding = 0;
    for (const ActivityRecord& record : records) adding += TextBytes(record);
    // Set-aside batches an operator removed meanwhile no longer count.
    if (bytes_ + adding > maxBytes_) bytes_ = MeasureBytes();
    if (bytes_ + adding > maxBytes_) {
        throw SpoolFull("the spool is full (" + std::to_string(bytes_) + " bytes of records, limit " +
                        std::to_string(maxBytes_) + "); the service has not taken the records that wait");
    }
    return adding;
}

std::uint64_t Spool::Insert(const std::vector<ActivityRecord>& records, std::uint64_t adding) {
    const std::uint64_t first = nextSequence_;
    Statement insert(db_, std::string("INSERT INTO waiting (sequence, spooled_ms, ") + kRecordColumns +
                              ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const std::int64_t now = NowMs();
    std::uint64_t sequence = first;
    for (const ActivityRecord& r : records) {
        insert.Bind(1, static_cast<std::int64_t>(sequence++)).Bind(2, now).Bind(3, r.user).Bind(4, r.computer);
        insert.Bind(5, r.process).Bind(6, r.description).Bind(7, r.windowTitle).Bind(8, r.startMs);
        insert.Bind(9, r.durationMs).Bind(10, r.keyboardEvents).Bind(11, r.mouseEvents).Step();
        insert.Reset();
    }
    Statement(db_, "UPDATE recorder SET next_sequence = ?").Bind(1, static_cast<std::int64_t>(sequence)).Step();
    nextSequence_ = sequence;
    bytes_ += adding;
    return first;
}

std::uint64_t Spool::Add(const std::vector<ActivityRecord>& records, const std::vector<ProgramIcon>& icons) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t adding = CheckRoom(records);
    const std::uint64_t sequence = nextSequence_;
    const std::uint64_t bytes = bytes_;
    const std::uint64_t iconBytes = iconBytes_;
    try {
        Transaction transaction(db_);
        const std::uint64_t first = Insert(records, adding);
        KeepIcons(icons);
        transaction.Commit();
        return first;
    } catch (...) {
        nextSequence_ = sequence;
        bytes_ = bytes;
        iconBytes_ = iconBytes;
        throw;
    }
}

bool Spool::AddOnce(const std::vector<ActivityRecord>& records, const std::string& senderId,
                    std::uint64_t messageNumber, const std::vector<ProgramIcon>& icons) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t sequence = nextSequence_;
    const std::uint64_t bytes = bytes_;
    const std::uint64_t iconBytes = iconBytes_;
    try {
        Transaction transaction(db_);
        Statement last(db_, "SELECT last_message FROM senders WHERE sender_id = ?");
        if (last.Bind(1, senderId).Step() && static_cast<std::uint64_t>(last.Int(0)) >= messageNumber) return false;
        Insert(records, CheckRoom(records));
        KeepIcons(icons);
        Statement(db_,
                  "INSERT INTO senders (sender_id, last_message, seen_ms) VALUES (?, ?, ?) ON CONFLICT (sender_id) "
                  "DO UPDATE SET last_message = excluded.last_message, seen_ms = excluded.seen_ms")
            .Bind(1, senderId)
            .Bind(2, static_cast<std::int64_t>(messageNumber))
            .Bind(3, NowMs())
            .Step();
        transaction.Commit();
        return true;
    } catch (...) {
        nextSequence_ = sequence;
        bytes_ = bytes;
        iconBytes_ = iconBytes;
        throw;
    }
}

SpooledBatch Spool::Oldest(std::size_t maxRecords, std::size_t maxBytes) {
    const std::lock_guard lock(mutex_);
    SpooledBatch batch;
    Statement select(db_,
                     std::string("SELECT sequence, ") + kRecordColumns + " FROM waiting ORDER BY sequence LIMIT ?");
    select.Bind(1, static_cast<std::int64_t>(maxRecords));
    std::size_t bytes = 0;
    while (select.Step()) {
        const auto sequence = static_cast<std::uint64_t>(select.Int(0));
        if (batch.records.empty()) batch.firstSequence = sequence;
        // The service takes consecutive numbers only.
        if (sequence != batch.firstSequence + batch.records.size()) break;
        ActivityRecord r{select.Bytes(1), select.Bytes(2), select.Bytes(3), select.Bytes(4), select.Bytes(5),
                         select.Int(6),   select.Int(7),   select.Int(8),   select.Int(9)};
        bytes += TextBytes(r);
        if (!batch.records.empty() && bytes > maxBytes) break;
        batch.records.push_back(std::move(r));
    }
    return batch;
}

void Spool::KeepIcons(const std::vector<ProgramIcon>& icons) {
    if (icons.empty()) return;
    Statement size(db_, "SELECT length(icon) FROM icons WHERE process = ?");
    Statement oldest(db_,
                     "SELECT process, length(icon) FROM icons WHERE state = ? AND process != ? ORDER BY spooled_ms");
    Statement remove(db_, "DELETE FROM icons WHERE process = ?");
    Statement keep(db_,
                   "INSERT INTO icons (process, icon, spooled_ms, state) VALUES (?, ?, ?, ?) ON CONFLICT (process) "
                   "DO UPDATE SET icon = excluded.icon, spooled_ms = excluded.spooled_ms");
    for (const ProgramIcon& icon : icons) {
        const std::uint64_t replaced = size.Bind(1, icon.process).Step() ? static_cast<std::uint64_t>(size.Int(0)) : 0;
        size.Reset();
        std::uint64_t total = iconBytes_ - replaced + icon.icon.size();
        // Icons the service has go first; those it still needs are never dropped for newer ones.
        oldest.Bind(1, kIconHad).Bind(2, icon.process);
        std::vector<std::string> evicted;
        while (total > kMaxIconsBytes && oldest.Step()) {
            evicted.push_back(oldest.Bytes(0));
            total -= static_cast<std::uint64_t>(oldest.Int(1));
        }
        oldest.Reset();
        if (total > kMaxIconsBytes) {
            LogLine("no room in the spool for the icon of " + Printable(icon.process) + "; its records are kept");
            continue;
        }
        for (const std::string& process : evicted) {
            remove.Bind(1, process).Step();
            remove.Reset();
        }
        keep.Bind(1, icon.process).Bind(2, icon.icon).Bind(3, NowMs()).Bind(4, kIconUnsent).Step();
        keep.Reset();
        iconBytes_ = total;
    }
}

std::vector<ProgramIcon> Spool::IconsToSend(const std::vector<std::string>& processes, std::size_t maxBytes) {
    const std::lock_guard lock(mutex_);
    std::vector<ProgramIcon> icons;
    std::size_t bytes = 0;
    const auto take = [&](std::string process, std::string icon) {
        bytes += icon.size();
        if (!icons.empty() && bytes > maxBytes) return false;
        icons.push_back({std::move(process), std::move(icon)});
        return true;
    };
    if (processes.empty()) {
        Statement asked(db_, "SELECT process, icon FROM icons WHERE state = ? ORDER BY spooled_ms");
        asked.Bind(1, kIconAsked);
        while (asked.Step() && take(asked.Bytes(0), asked.Bytes(1))) {}
        return icons;
    }
    Statement unsent(db_, "SELECT icon FROM icons WHERE process = ? AND state != ?");
    for (const std::string& process : processes) {
        const bool found = unsent.Bind(1, process).Bind(2, kIconHad).Step();
        if (found && !take(process, unsent.Bytes(0))) break;
        unsent.Reset();
    }
    return icons;
}

void Spool::Remove(std::uint64_t first, std::uint64_t count, const std::vector<std::string>& iconsSent,
                   const std::vector<std::string>& withoutIcon) {
    const std::lock_guard lock(mutex_);
    const auto from = static_cast<std::int64_t>(first);
    const auto to = static_cast<std::int64_t>(first + count - 1);
    Transaction transaction(db_);
    std::uint64_t removed = 0;
    if (count > 0) {
        Statement measure(db_, std::string("SELECT coalesce(sum(") + kRecordBytes +
                                   "), 0) FROM waiting WHERE sequence BETWEEN ? AND ?");
        measure.Bind(1, from).Bind(2, to).Step();
        removed = static_cast<std::uint64_t>(measure.Int(0));
        Statement(db_, "DELETE FROM waiting WHERE sequence BETWEEN ? AND ?").Bind(1, from).Bind(2, to).Step();
    }
    // Sent first, then asked for: an icon sent with a batch that still lists its program goes again.
    Statement mark(db_, "UPDATE icons SET state = ? WHERE process = ? AND state != ?");
    for (const auto& [processes, state] : {std::pair{&iconsSent, kIconHad}, std::pair{&withoutIcon, kIconAsked}}) {
        for (const std::string& process : *processes) {
            mark.Bind(1, state).Bind(2, process).Bind(3, state).Step();
            mark.Reset();
        }
    }
    transaction.Commit();
    bytes_ -= std::min(bytes_, removed);
}

void Spool::DropIcons(const std::vector<std::string>& processes) {
    const std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement size(db_, "SELECT length(icon) FROM icons WHERE process = ?");
    Statement remove(db_, "DELETE FROM icons WHERE process = ?");
    std::uint64_t dropped = 0;
    for (const std::string& process : processes) {
        if (size.Bind(1, process).Step()) dropped += static_cast<std::uint64_t>(size.Int(0));
        size.Reset();
        remove.Bind(1, process).Step();
        remove.Reset();
    }
    transaction.Commit();
    iconBytes_ -= std::min(iconBytes_, dropped);
}

void Spool::SetAside(std::uint64_t first, std::uint64_t count, const std::string& reason) {
    const std::lock_guard lock(mutex_);
    const auto from = static_cast<std::int64_t>(first);
    const auto to = static_cast<std::int64_t>(first + count - 1);
    Transaction transaction(db_);
    Statement batch(
        db_, "INSERT INTO set_aside_batches (first_sequence, records, reason, set_aside_ms) VALUES (?, ?, ?, ?)");
    batch.Bind(1, from).Bind(2, static_cast<std::int64_t>(count)).Bind(4, NowMs());
    batch.BindText(3, reason).Step();
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    Statement move(db_, std::string("INSERT INTO set_aside (sequence, batch, spooled_ms, ") + kRecordColumns +
                            ") SELECT sequence, ?, spooled_ms, " + kRecordColumns +
                            " FROM waiting WHERE sequence BETWEEN ? AND ?");
    move.Bind(1, id).Bind(2, from).Bind(3, to).Step();
    Statement(db_, "DELETE FROM waiting WHERE sequence BETWEEN ? AND ?").Bind(1, from).Bind(2, to).Step();
    transaction.Commit();
}

void Spool::SetLastError(const std::string& text) {
    const std::lock_guard lock(mutex_);
    Statement(db_, "UPDATE recorder SET last_error = ?, last_error_ms = ?")
        .BindText(1, text)
        .Bind(2, text.empty() ? 0 : NowMs())
        .Step();
}

SpoolCounts Spool::Counts() {
    const std::lock_guard lock(mutex_);
    SpoolCounts counts;
    // The waiting numbers are consecutive: no need to count a large queue row by row.
    Statement waiting(db_,
                      "SELECT coalesce(max(sequence) - min(sequence) + 1, 0), "
                      "coalesce((SELECT spooled_ms FROM waiting ORDER BY sequence LIMIT 1), 0) FROM waiting");
    waiting.Step();
    counts.waiting = static_cast<std::uint64_t>(waiting.Int(0));
    counts.oldestSpooledMs = waiting.Int(1);
    Statement aside(db_, "SELECT count(*), coalesce(sum(records), 0) FROM set_aside_batches");
    aside.Step();
    counts.setAsideBatches = static_cast<std::uint64_t>(aside.Int(0));
    counts.setAsideRecords = static_cast<std::uint64_t>(aside.Int(1));
    Statement error(db_, "SELECT last_error, last_error_ms FROM recorder");
    if (error.Step()) {
        counts.lastError = error.Bytes(0);
        counts.lastErrorMs = error.Int(1);
    }
    counts.bytes = bytes_;
    return counts;
}

}  // namespace qv::recorder
