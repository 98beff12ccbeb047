// Progress of long work (import, demo) as one line redrawn in place on a
// terminal: records, percent and rate. Silent when the stream is not a
// terminal, so that logs and pipes get only the final summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qv::server {

// Told the records done so far and the part of the work done (0 to 1).
using ProgressCallback = std::function<void(std::int64_t records, double fraction)>;

std::string FormatProgress(std::int64_t records, double fraction, double seconds);

class ProgressLine {
public:
    // Draws on fd only when fd is a terminal.
    explicit ProgressLine(int fd);
    // Ends a line left unfinished, so that an error starts on a line of its own.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool Enabled() const { return enabled_; }
    // Redraws at most every few tenths of a second; 100 percent is left to
    // Finish.
    void Update(std::int64_t records, double fraction);
    // The final line at 100 percent, ended.
    void Finish(std::int64_t records);
    ProgressCallback Callback();

private:
    void Draw(std::int64_t records, double fraction, bool last);

    int fd_;
    bool enabled_;
    bool open_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace qv::server
