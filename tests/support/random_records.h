// Random activity records and their import file, for tests that compare answers with sums of their own.
#pragma once

#include "qvservice/model/record_writer.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qv::test {

// Records starting on whole seconds in [fromMs, toMs): awkward names and titles (case, non-ASCII, not UTF-8, quotes,
// commas, NUL bytes); one in ten lasts nothing, a few last hours or days.
std::vector<qv::ActivityRecord> RandomRecords(std::mt19937_64& random, std::size_t count, std::int64_t fromMs,
                                              std::int64_t toMs);

// The records as an import file, every field quoted, starts in UTC.
std::string RecordsCsv(const std::vector<qv::ActivityRecord>& records);

}  // namespace qv::test
