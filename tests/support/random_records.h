// Random activity records, and the import file that holds them, for the
// tests that compare the service's answers with sums of their own.
#pragma once

#include "qvservice/model/record_writer.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qv::test {

// Records starting on whole seconds in [fromMs, toMs): names that are not
// ASCII, differ only in case or hold a backslash; titles that are empty,
// padded, not UTF-8, quoted with a comma or hold a NUL byte. One in ten lasts
// nothing, a few last hours or days.
std::vector<server::ActivityRecord> RandomRecords(std::mt19937_64& random, std::size_t count, std::int64_t fromMs,
                                                  std::int64_t toMs);

// The records as an import file, every field quoted, starts in UTC.
std::string RecordsCsv(const std::vector<server::ActivityRecord>& records);

}  // namespace qv::test
