#include "qvservice/model/store_pruner.h"

#include "qvservice/model/rollup_accumulator.h"
#include "qvservice/model/store_schema.h"
#include "qvservice/model/time_buckets.h"
#include "records/log.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <limits>
#include <set>
#include <stdexcept>
#include <unordered_set>
#include <vector>

namespace qv::server {

namespace {

constexpr std::size_t kIdsPerStatement = 500;
constexpr std::size_t kNamesPerTransaction = 10'000;

std::string Placeholders(std::size_t count) {
    std::string list;
    for (std::size_t i = 0; i < count; ++i) list += (i ? ", ?" : "?");
    return list;
}

// Runs sql (with "(LIST)" for the ids) over ids in pieces; returns what the
// statements gave back in their first column, if anything.
template <typename Range>
std::vector<std::int64_t> EachPiece(Database& db, const std::string& sql, const Range& ids) {
    const std::vector<std::int64_t> all(ids.begin(), ids.end());
    std::vector<std::int64_t> rows;
    for (std::size_t from = 0; from < all.size(); from += kIdsPerStatement) {
        const std::size_t count = std::min(kIdsPerStatement, all.size() - from);
        std::string text = sql;
        text.replace(text.find("LIST"), 4, Placeholders(count));
        Statement statement(db, text);
        for (std::size_t i = 0; i < count; ++i) statement.Bind(static_cast<int>(i + 1), all[from + i]);
        while (statement.Step()) rows.push_back(statement.Int64(0));
    }
    return rows;
}

std::optional<std::int64_t> EarliestStart(Database& db) {
    Statement read(db, "SELECT min(start_ms) FROM activity");
    if (!read.Step() || read.IsNull(0)) return std::nullopt;
    return read.Int64(0);
}

std::vector<std::int64_t> AllIds(Database& db, const char* table) {
    Statement read(db, std::string("SELECT id FROM ") + table);
    std::vector<std::int64_t> ids;
    while (read.Step()) ids.push_back(read.Int64(0));
    return ids;
}

// Rows of buckets that end at or before the earliest start of any record
// hold nothing any more (only the float residue of removed event shares).
// The window tables are keyed by program first: cleared program by program.
void DropBucketsBefore(Database& db, const std::optional<std::int64_t>& earliestStart,
                       const std::vector<std::int64_t>& programs) {
    for (const BucketLevel& level : kBucketLevels) {
        const std::int64_t below =
            earliestStart ? BucketOf(level, *earliestStart) : std::numeric_limits<std::int64_t>::max();
        const std::string name = level.name;
        Statement dropPrograms(db, "DELETE FROM " + name + "_programs WHERE bucket < ?1");
        dropPrograms.Bind(1, below);
        dropPrograms.Step();
        if (!level.windows) continue;
        Statement dropWindows(db, "DELETE FROM " + name + "_windows WHERE program_id = ?1 AND bucket < ?2");
        for (const std::int64_t program : programs) {
            dropWindows.Reset();
            dropWindows.Bind(1, program);
            dropWindows.Bind(2, below);
            dropWindows.Step();
        }
    }
}

// Once no record left ends by the cut: a row of a bucket that ends by the
// cut and holds no time has no record any more (a record with a duration
// adds time to each bucket it overlaps, and those without one that remain
// start at the cut or later). The bucket around the cut (a month, say, when
// the cut is not a month's start) may still hold records without a duration
// from the cut on: its rows without time stay when the hours of that bucket
// hold the same names, with their events, whole numbers then, rounded back
// from any residue.
void DropEmptyRowsBeforeCut(Database& db, std::int64_t cutMs) {
    const std::vector<std::int64_t> programs = AllIds(db, "programs");
    // Hours first: the block's check reads them.
    for (auto level = kBucketLevels.rbegin(); level != kBucketLevels.rend(); ++level) {
        const std::string name = level->name;
        const std::int64_t cutBucket = BucketOf(*level, cutMs);
        Statement programRows(db, "DELETE FROM " + name + "_programs WHERE bucket < ?1 AND time_ms = 0");
        programRows.Bind(1, cutBucket);
        programRows.Step();
        if (level->windows) {
            Statement windowRows(
                db, "DELETE FROM " + name + "_windows WHERE program_id = ?1 AND bucket < ?2 AND time_ms = 0");
            for (const std::int64_t program : programs) {
                windowRows.Reset();
                windowRows.Bind(1, program);
                windowRows.Bind(2, cutBucket);
                windowRows.Step();
            }
        }
        if (BucketStartMs(*level, cutBucket) == cutMs) continue;
        const std::int64_t firstHour = BucketStartMs(*level, cutBucket) / kMsPerHour;
        const std::int64_t endHour = BucketStartMs(*level, cutBucket + 1) / kMsPerHour;
        for (const bool windowLevel : {false, true}) {
            if (windowLevel && !level->windows) continue;
            const std::string table = name + (windowLevel ? "_windows" : "_programs");
            const std::string hoursHold =
                " AND NOT EXISTS (SELECT 1 FROM hour_windows h WHERE h.program_id = " + table +
                ".program_id AND h.bucket >= ?2 AND h.bucket < ?3 AND h.user_id = " + table +
                ".user_id AND h.computer_id = " + table + ".computer_id" +
                (windowLevel ? " AND h.window_id = " + table + ".window_id)" : ")");
            Statement drop(db, "DELETE FROM " + table + " WHERE bucket = ?1 AND time_ms = 0" + hoursHold);
            drop.Bind(1, cutBucket);
            drop.Bind(2, firstHour);
            drop.Bind(3, endHour);
            drop.Step();
            Statement round(db, "UPDATE " + table +
                                    " SET keyboard_events = round(keyboard_events), mouse_events = round(mouse_events) "
                                    "WHERE bucket = ?1 AND time_ms = 0");
            round.Bind(1, cutBucket);
            round.Step();
        }
    }
}

// One transaction: the oldest records that end by the cut, at most limit.
// Returns how many went; fewer than limit when none is left.
std::size_t PruneBatch(Database& db, std::int64_t cutMs, std::size_t limit) {
    Transaction transaction(db, Transaction::Kind::Write);
    PrepareSchema(db);
    // In key order, oldest first; a record crossing the cut stays whole.
    Statement select(db,
                     "SELECT start_ms, id, user_id, computer_id, program_id, window_id, duration_ms, keyboard_events, "
                     "mouse_events FROM activity WHERE start_ms < ?1 AND start_ms + duration_ms <= ?1 "
                     "ORDER BY start_ms, id LIMIT ?2");
    select.Bind(1, cutMs);
    select.Bind(2, static_cast<std::int64_t>(limit));
    RollupAccumulator rollups(db);
    std::size_t removed = 0;
    std::int64_t lastStart = 0, lastId = 0;
    std::set<std::int64_t> programs;
    while (select.Step()) {
        ++removed;
        lastStart = select.Int64(0);
        lastId = select.Int64(1);
        const RecordIds record{select.Int64(2), select.Int64(3), select.Int64(4), select.Int64(5)};
        programs.insert(record.program);
        rollups.Remove(record, select.Int64(0), select.Int64(6), static_cast<double>(select.Int64(7)),
                       static_cast<double>(select.Int64(8)));
    }
    rollups.Flush();
    // The same records, through the last one's key: no other writer runs
    // beside this transaction.
    Statement remove(db,
                     "DELETE FROM activity WHERE start_ms < ?1 AND start_ms + duration_ms <= ?1 AND start_ms <= ?2 "
                     "AND (start_ms < ?2 OR id <= ?3)");
    remove.Bind(1, cutMs);
    remove.Bind(2, lastStart);
    remove.Bind(3, lastId);
    if (removed > 0) remove.Step();
    DropBucketsBefore(db, EarliestStart(db), {programs.begin(), programs.end()});
    if (removed < limit) DropEmptyRowsBeforeCut(db, cutMs);
    transaction.Commit();
    return removed;
}

enum Kind { kUsers, kComputers, kPrograms, kWindows, kKinds };
constexpr const char* kNameTables[kKinds] = {"users", "computers", "programs", "window_titles"};

using NameSets = std::array<std::set<std::int64_t>, kKinds>;

// The names of a kind that records use. Every record adds to the rows of the
// largest levels, which name its ids in far fewer rows than the records.
std::unordered_set<std::int64_t> NamesInUse(Database& db, int kind) {
    static constexpr const char* kColumns[kKinds] = {"user_id", "computer_id", "program_id", "window_id"};
    Statement read(db, std::string("SELECT DISTINCT ") + kColumns[kind] + " FROM " +
                           LargestLevel(kind == kWindows).name + (kind == kWindows ? "_windows" : "_programs"));
    std::unordered_set<std::int64_t> used;
    while (read.Step()) used.insert(read.Int64(0));
    return used;
}

// A snapshot's names that no record uses, to be checked again as they go.
NameSets FindUnusedNames(Database& db) {
    NameSets found;
    Transaction snapshot(db, Transaction::Kind::Read);
    for (int kind = 0; kind < kKinds; ++kind) {
        const auto used = NamesInUse(db, kind);
        for (const std::int64_t id : AllIds(db, kNameTables[kind])) {
            if (!used.contains(id)) found[kind].insert(id);
        }
    }
    snapshot.Commit();
    return found;
}

// One transaction: removes up to kNamesPerTransaction of the unused names of
// a kind. Writers wait for it, and it looks again at which names the records
// use, so that a name that records written since the snapshot use stays.
void RemoveNames(Database& db, std::set<std::int64_t>& unused, int kind, PruneSummary& summary) {
    Transaction transaction(db, Transaction::Kind::Write);
    const auto used = NamesInUse(db, kind);
    std::vector<std::int64_t> chunk;
    for (auto it = unused.begin(); it != unused.end() && chunk.size() < kNamesPerTransaction;) {
        if (!used.contains(*it)) chunk.push_back(*it);
        it = unused.erase(it);
    }
    if (kind == kPrograms) {
        // A program keeps the titles that records still use.
        const auto titled =
            EachPiece(db, "SELECT DISTINCT program_id FROM window_titles WHERE program_id IN (LIST)", chunk);
        const std::unordered_set<std::int64_t> keep(titled.begin(), titled.end());
        std::erase_if(chunk, [&](std::int64_t program) { return keep.contains(program); });
    }
    EachPiece(db, std::string("DELETE FROM ") + kNameTables[kind] + " WHERE id IN (LIST)", chunk);
    if (!chunk.empty()) RaiseCounter(db, kNamesGeneration);
    transaction.Commit();
    const auto removed = static_cast<std::int64_t>(chunk.size());
    switch (kind) {
        case kUsers: summary.users += removed; break;
        case kComputers: summary.computers += removed; break;
        case kPrograms: summary.programs += removed; break;
        default: summary.windowTitles += removed; break;
    }
}

bool Stopping(const PruneOptions& options) { return options.stopping && options.stopping(); }

}  // namespace

PruneSummary PruneStore(Database& db, const PruneOptions& options) {
    if (options.cutMs % kMsPerDay != 0 || options.batchRecords == 0) {
        throw std::invalid_argument("a prune cuts at the start of a UTC day, in batches of at least one record");
    }
    UpgradeOlderStore(db);
    CheckSchema(db);
    PruneSummary summary;
    double toRemove = 0;
    {
        Transaction snapshot(db, Transaction::Kind::Read);
        Statement count(db, "SELECT count(*) FROM activity WHERE start_ms < ?1");
        count.Bind(1, options.cutMs);
        if (count.Step()) toRemove = static_cast<double>(count.Int64(0));
        snapshot.Commit();
    }
    for (;;) {
        if (Stopping(options)) {
            summary.stopped = true;
            return summary;
        }
        const std::size_t removed = PruneBatch(db, options.cutMs, options.batchRecords);
        summary.records += static_cast<std::int64_t>(removed);
        if (options.progress) {
            options.progress(summary.records, toRemove > 0 ? static_cast<double>(summary.records) / toRemove : 1.0);
        }
        if (removed < options.batchRecords) break;
    }
    db.RefreshPlannerStatistics();
    // Titles before programs: a title names its program.
    NameSets unused = FindUnusedNames(db);
    for (const int kind : {kWindows, kUsers, kComputers, kPrograms}) {
        while (!unused[kind].empty()) {
            if (Stopping(options)) {
                summary.stopped = true;
                return summary;
            }
            RemoveNames(db, unused[kind], kind, summary);
        }
    }
    return summary;
}

std::optional<std::int64_t> ParseUtcDate(std::string_view text) {
    using namespace std::chrono;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int parts[3] = {};
    const std::pair<std::size_t, std::size_t> fields[3] = {{0, 4}, {5, 2}, {8, 2}};
    for (int i = 0; i < 3; ++i) {
        for (std::size_t at = fields[i].first; at < fields[i].first + fields[i].second; ++at) {
            if (text[at] < '0' || text[at] > '9') return std::nullopt;
            parts[i] = parts[i] * 10 + (text[at] - '0');
        }
    }
    const year_month_day date{year{parts[0]}, month{static_cast<unsigned>(parts[1])},
                              day{static_cast<unsigned>(parts[2])}};
    if (!date.ok()) return std::nullopt;
    return duration_cast<milliseconds>(sys_days{date}.time_since_epoch()).count();
}

std::string FormatUtcDate(std::int64_t ms) {
    using namespace std::chrono;
    const year_month_day date{sys_days{days{FloorDiv(ms, kMsPerDay)}}};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string DescribePrune(const PruneSummary& summary) {
    return std::to_string(summary.records) + " records, " + std::to_string(summary.users) + " users, " +
           std::to_string(summary.computers) + " computers, " + std::to_string(summary.programs) + " programs, " +
           std::to_string(summary.windowTitles) + " window titles";
}

RetentionThread::RetentionThread(std::string store, int keepDays)
    : store_(std::move(store)), keepDays_(keepDays), thread_([this] { Run(); }) {}

RetentionThread::~RetentionThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void RetentionThread::Run() {
    using namespace std::chrono;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        PruneOnce();
        lock.lock();
        const auto today = floor<days>(system_clock::now());
        wake_.wait_until(lock, today + days{1}, [this] { return stopping_.load(); });
    }
}

void RetentionThread::PruneOnce() {
    using namespace std::chrono;
    const std::int64_t today = duration_cast<milliseconds>(floor<days>(system_clock::now()).time_since_epoch()).count();
    const std::int64_t cut = today - keepDays_ * kMsPerDay;
    const std::string before = "records ending before " + FormatUtcDate(cut) + " 00:00 UTC";
    try {
        const auto db = OpenStore(store_, Database::Mode::ReadWrite);
        db->SetInterrupt([this] { return stopping_.load(); });
        const PruneSummary summary = PruneStore(*db, {cut, 10'000, {}, [this] { return stopping_.load(); }});
        LogLine("pruned " + before + ": removed " + DescribePrune(summary) +
                (summary.stopped ? " (stopped; the rest at the next prune)" : ""));
    } catch (const std::exception& error) {
        if (stopping_) {
            LogLine("prune of " + before + " stopped; the rest at the next prune");
            return;
        }
        LogLine("prune of " + before + " failed, tried again in a day: " + std::string(error.what()));
    }
}

}  // namespace qv::server
