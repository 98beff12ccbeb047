// qvservice demo: a realistic store of office activity that ends now.
#pragma once

#include "qvservice/support/progress_line.h"

#include <cstdint>
#include <string>

namespace qv::server {

struct DemoOptions {
    std::int64_t records = 1'200'000;  // about; the working days decide the exact number
    int days = 400;
    std::size_t users = 25;
    std::size_t computers = 30;
    std::int64_t endMs = 0;  // 0 = now
    std::uint64_t seed = 4711;
};

struct DemoSummary {
    std::int64_t records = 0;
    std::size_t programs = 0;
    std::size_t windowTitles = 0;
};

// Refuses a store that exists already; leaves none behind when it
// fails. progress hears of each day written.
DemoSummary WriteDemoStore(const std::string& store, const DemoOptions& options, const ProgressCallback& progress = {});

}  // namespace qv::server
