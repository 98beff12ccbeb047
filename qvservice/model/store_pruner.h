// Retention: removes the records that ended before a cut with their shares
// of the rollups, then the names no record uses any more. Every step is a
// short transaction that takes the writers' lock as any other write does, so
// that the service keeps answering and recording meanwhile; each leaves a
// consistent store, and a prune stopped anywhere finishes when run again.
#pragma once

#include "qvservice/store/store_database.h"
#include "qvservice/support/progress_line.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace qv::server {

struct PruneOptions {
    // 00:00 UTC of a day: records that end at or before it (and start before it) go.
    std::int64_t cutMs = 0;
    std::size_t batchRecords = 10'000;
    ProgressCallback progress;  // records removed so far
    // Asked between transactions; true stops the prune there.
    std::function<bool()> stopping;
};

struct PruneSummary {
    std::int64_t records = 0;
    std::int64_t users = 0;
    std::int64_t computers = 0;
    std::int64_t programs = 0;
    std::int64_t windowTitles = 0;
    bool stopped = false;  // by options.stopping, before the end
};

// Throws StoreError, and std::invalid_argument for a cut that is not a whole
// UTC day; what committed before stays.
PruneSummary PruneStore(Database& db, const PruneOptions& options);

// "YYYY-MM-DD" as 00:00 UTC of that day, in ms; nothing for anything else.
std::optional<std::int64_t> ParseUtcDate(std::string_view text);
std::string FormatUtcDate(std::int64_t ms);
// "N records, N users, N computers, N programs, N window titles".
std::string DescribePrune(const PruneSummary& summary);

// serve --keep-days: prunes at once and then at each 00:00 UTC, with a
// connection of its own, cutting keepDays before the day's start. Logs one
// line per prune; a failed one waits for the next day.
class RetentionThread {
public:
    RetentionThread(std::string store, int keepDays);
    // Stops a running prune between its transactions.
    ~RetentionThread();
    RetentionThread(const RetentionThread&) = delete;
    RetentionThread& operator=(const RetentionThread&) = delete;

private:
    void Run();
    void PruneOnce();

    const std::string store_;
    const int keepDays_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace qv::server
