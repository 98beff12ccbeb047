#include "qvservice/support/progress_line.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace qv::server {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
// Work still going on after the last chunk (committing) shows as 99 percent.
constexpr double kBeforeTheEnd = 0.999;
// Clears what a longer earlier line left to the right of the cursor.
constexpr const char* kClearToEnd = "\033[K";

void WriteAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a progress line is not worth failing the work for
        written += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string FormatProgress(std::int64_t records, double fraction, double seconds) {
    const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
    const double rate = seconds > 0 ? static_cast<double>(records) / seconds : 0.0;
    char line[96];
    std::snprintf(line, sizeof line, "%lld records, %3d%%, %.0f records/s", static_cast<long long>(records), percent,
                  rate);
    return line;
}

ProgressLine::ProgressLine(int fd)
    : fd_(fd), enabled_(::isatty(fd) == 1), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

ProgressLine::~ProgressLine() {
    if (open_) WriteAll(fd_, "\n");
}

void ProgressLine::Update(std::int64_t records, double fraction) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (open_ && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    Draw(records, std::min(fraction, kBeforeTheEnd), false);
}

void ProgressLine::Finish(std::int64_t records) {
    if (enabled_) Draw(records, 1.0, true);
}

ProgressCallback ProgressLine::Callback() {
    return [this](std::int64_t records, double fraction) { Update(records, fraction); };
}

void ProgressLine::Draw(std::int64_t records, double fraction, bool last) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    WriteAll(fd_, "\r" + FormatProgress(records, fraction, elapsed.count()) + kClearToEnd + (last ? "\n" : ""));
    open_ = !last;
}

}  // namespace qv::server
