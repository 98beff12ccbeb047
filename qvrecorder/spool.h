// The relay's spool: a SQLite file in the state folder that holds the
// recorder's id, the next record number, the records that wait for the
// service, the batches it refused, the last error, and the programs' icons
// with whether the service has each. Each change is one
// transaction, synced before it returns, so that a record acknowledged to its
// sender survives any crash, and keeps its number.
#pragma once

#include "records/activity_record.h"

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace qv::recorder {

// The spool has no room for more records; the text says how full it is.
class SpoolFull : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SpooledBatch {
    std::uint64_t firstSequence = 0;  // 0 when nothing waits
    std::vector<ActivityRecord> records;
};

// A program's icon-file bytes, checked before they reach the spool.
struct ProgramIcon {
    std::string process;
    std::string icon;
};

struct SpoolCounts {
    std::uint64_t waiting = 0;
    std::int64_t oldestSpooledMs = 0;  // 0 when nothing waits
    std::uint64_t setAsideBatches = 0;
    std::uint64_t setAsideRecords = 0;
    std::uint64_t bytes = 0;
    std::string lastError;
    std::int64_t lastErrorMs = 0;
};

// Thread-safe: every call holds the spool for its transaction.
class Spool {
public:
    // Opens or makes folder/spool.db (and the folder itself, mode 0700). Only
    // one process at a time may hold a folder. Throws std::runtime_error.
    Spool(const std::string& folder, std::uint64_t maxBytes);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // 16 random bytes, made with the spool and kept for ever.
    const std::string& RecorderId() const { return recorderId_; }

    // Commits the records under the next numbers, and the icons, all or
    // none; returns the first record's number. Throws SpoolFull past the size
    // limit (which counts records only: icons have a bound of their own).
    std::uint64_t Add(const std::vector<ActivityRecord>& records, const std::vector<ProgramIcon>& icons = {});
    // The same for a sender's numbered message, once: false when the spool
    // took that message before (the sender did not hear the answer).
    bool AddOnce(const std::vector<ActivityRecord>& records, const std::string& senderId, std::uint64_t messageNumber,
                 const std::vector<ProgramIcon>& icons = {});
    // The oldest waiting records, consecutive numbers, at most maxRecords and
    // (but for a first record larger than it) maxBytes of text.
    SpooledBatch Oldest(std::size_t maxRecords, std::size_t maxBytes);
    // Icons the service may lack, at most maxBytes (but always one): of the
    // given programs those it has not been sent, or, with no programs given,
    // those it asked for.
    std::vector<ProgramIcon> IconsToSend(const std::vector<std::string>& processes, std::size_t maxBytes);
    // Forgets the waiting records first..first+count-1: the service has them,
    // and the icons sent with them, but for the programs it says it has no
    // icon for (those are sent again).
    void Remove(std::uint64_t first, std::uint64_t count, const std::vector<std::string>& iconsSent = {},
                const std::vector<std::string>& withoutIcon = {});
    // Forgets icons the service refused.
    void DropIcons(const std::vector<std::string>& processes);
    // Moves them out of the queue into the set-aside tables, with the reason.
    void SetAside(std::uint64_t first, std::uint64_t count, const std::string& reason);
    // The last error is kept in the spool; an empty text clears it.
    void SetLastError(const std::string& text);
    SpoolCounts Counts();

    static constexpr const char* kFileName = "spool.db";
    // Icons take at most this much of the spool; the oldest the service has
    // make room for new ones.
    static constexpr std::uint64_t kMaxIconsBytes = 16 << 20;

private:
    void Execute(const char* sql);
    // Add's work inside the caller's transaction, with the lock held.
    std::uint64_t Insert(const std::vector<ActivityRecord>& records, std::uint64_t adding);
    std::uint64_t CheckRoom(const std::vector<ActivityRecord>& records);
    std::uint64_t MeasureBytes();
    void KeepIcons(const std::vector<ProgramIcon>& icons);

    std::mutex mutex_;
    std::string path_;
    sqlite3* db_ = nullptr;
    int lockFd_ = -1;
    std::uint64_t maxBytes_;
    std::uint64_t bytes_ = 0;
    std::uint64_t iconBytes_ = 0;
    std::uint64_t nextSequence_ = 1;
    std::string recorderId_;
};

}  // namespace qv::recorder
